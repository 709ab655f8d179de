// An asynchronous session for the tests, and the steps they repeat: connect and wait, run a request
// and wait for its completion.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "inet/options.h"
#include "inet/wininet.h"
#include "kernel/paths.h"
#include "recorder.h"

namespace inettest {

// The Windows path the layer takes for a host path.
inline std::string winPath(const std::filesystem::path& p) { return kernel::windowsPath(p.string()); }

struct Completion {
  bool returned = false;  // what the call itself returned (TRUE, or a handle)
  DWORD callError = 0;    // GetLastError() right after the call
  DWORD_PTR result = 0;   // REQUEST_COMPLETE
  DWORD error = 0;
  std::string response;
  DWORD responseCode = 0;
};

class Client {
 public:
  explicit Client(DWORD accessType = INTERNET_OPEN_TYPE_DIRECT, const char* proxy = nullptr,
                  const char* bypass = nullptr)
      : threadsBefore_(inet::activeThreads()) {
    root = InternetOpenA("inet test", accessType, proxy, bypass, INTERNET_FLAG_ASYNC);
    EXPECT_NE(root, nullptr) << GetLastError();
    InternetSetStatusCallback(root, &Recorder::callback);
  }
  ~Client() {
    if (root) InternetCloseHandle(root);
    // Connections kept idle would wait for their time, or for every other session to close: a test
    // that keeps another session open would wait for them. Tests of the keeping itself turn this off.
    if (closeKeptAtEnd) inet::closeKeptConnections();
    // Every handle the session announced has said goodbye before the recorder goes: counting threads
    // alone is not enough when another session's threads end meanwhile.
    EXPECT_TRUE(recorder.waitUntil(
        [](const std::vector<Note>& notes) {
          std::set<HINTERNET> open;
          for (const Note& n : notes) {
            if (n.status == INTERNET_STATUS_HANDLE_CREATED) open.insert(n.handle);
            if (n.status == INTERNET_STATUS_HANDLE_CLOSING) open.erase(n.handle);
          }
          return open.empty();
        },
        std::chrono::seconds(10)))
        << "a handle never closed";
    // The session's thread and the connections' workers end by themselves once closed.
    EXPECT_TRUE(inet::waitForThreads(threadsBefore_, std::chrono::seconds(10)))
        << "a thread of the layer hangs";
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Runs an asynchronous call and waits for its REQUEST_COMPLETE.
  template <typename Call>
  Completion await(Call&& call, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    Completion c;
    const size_t from = recorder.notes().size();
    c.returned = call();
    c.callError = GetLastError();
    if (c.returned && c.callError != ERROR_IO_PENDING) return c;  // finished on the spot
    if (c.callError != ERROR_IO_PENDING) {
      c.error = c.callError;
      return c;
    }
    auto note = recorder.completeAfter(from, limit);
    if (!note) {
      ADD_FAILURE() << "no REQUEST_COMPLETE within the limit\n" << describe(recorder.notes());
      c.error = 0xffffffff;
      return c;
    }
    c.result = note->result.dwResult;
    c.error = note->result.dwError;
    c.response = note->response;
    c.responseCode = note->responseCode;
    return c;
  }

  // Connects and waits for the logon; nullptr when it failed (*completion says why).
  HINTERNET connect(const std::string& server, const std::string& user, const std::string& password,
                    DWORD flags = INTERNET_FLAG_PASSIVE, Completion* completion = nullptr) {
    HINTERNET h = nullptr;
    Completion c = await([&] {
      h = InternetConnectA(root, server.c_str(), 0, user.empty() ? nullptr : user.c_str(),
                           password.empty() ? nullptr : password.c_str(), INTERNET_SERVICE_FTP, flags,
                           recorder.context());
      return h != nullptr;
    });
    if (completion) *completion = c;
    if (c.error != 0) return nullptr;
    EXPECT_EQ(c.result, reinterpret_cast<DWORD_PTR>(h));
    return h;
  }

  HINTERNET root = nullptr;
  Recorder recorder;
  bool closeKeptAtEnd = true;

 private:
  int threadsBefore_;
};

}  // namespace inettest
