// Connects to the server named by its argument, closes the connection (which the layer keeps) and
// returns from main with its session still open: the kept connection must say goodbye at exit.
#include <cstdio>

#include "inet/wininet.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  HINTERNET root = InternetOpenA("probe", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET conn =
      InternetConnectA(root, argv[1], 0, "ann", "pw", INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
  if (!conn) {
    std::fprintf(stderr, "connect failed: %lu\n", static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  InternetCloseHandle(conn);
  return 0;
}
