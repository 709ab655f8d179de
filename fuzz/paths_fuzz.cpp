// The Windows path mapper: any path a program may build, on a drive D: that is a temporary tree.
// A mapped path never climbs above its drive's root, holds no "." or ".." component, and maps back
// to a Windows path that maps to it again.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "kernel/paths.h"

namespace {

void require(bool condition, const char* what, std::string_view input = {}, std::string_view got = {}) {
  if (!condition) {
    std::fprintf(stderr, "contract broken: %s\n  input: %.*s\n  got:   %.*s\n", what,
                 static_cast<int>(input.size()), input.data(), static_cast<int>(got.size()), got.data());
    std::abort();
  }
}

// D: is a temporary tree with names in mixed case; the process stands in D:\Docs. The name lives
// as long as the process, for the clean-up at exit.
const std::string& drive() {
  static const std::string* root = [] {
    char pattern[] = "/tmp/nimbo-fuzz-paths-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (!made) std::abort();
    auto* r = new std::string(made);
    std::filesystem::create_directories(*r + "/Docs/Sub Dir");
    std::filesystem::create_directories(*r + "/docs2");
    std::FILE* f = std::fopen((*r + "/Docs/ReadMe.TXT").c_str(), "w");
    if (f) std::fclose(f);
    kernel::setMountTable(std::vector<kernel::Mount>{{"/dev/root", "/", "ext4"}, {"/dev/fuzz", *r, "ext4"}});
    if (::chdir((*r + "/Docs").c_str()) != 0) std::abort();
    std::atexit([] { std::filesystem::remove_all(drive()); });
    return r;
  }();
  return *root;
}

bool within(std::string_view path, std::string_view root) {
  return path == root ||
         (path.size() > root.size() && path.substr(0, root.size()) == root && path[root.size()] == '/');
}

}  // namespace

// The target changes its working directory: the corpus directories and files named on the command
// line, and the artifact prefix, are made absolute first.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  for (int i = 1; i < *argc; ++i) {
    std::string arg = (*argv)[i];
    const std::string flag = "-artifact_prefix=";
    const bool prefix = arg.rfind(flag, 0) == 0;
    std::string path = prefix ? arg.substr(flag.size()) : arg;
    if (path.empty() || path.front() == '/' || (!prefix && arg.front() == '-')) continue;
    path = std::filesystem::absolute(path).string();
    (*argv)[i] = strdup((prefix ? flag + path : path).c_str());  // lives as long as the process
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& root = drive();
  std::string path(reinterpret_cast<const char*>(data), size);
  // C: is the machine's own root: send it to D:, so the fuzzer stays inside the temporary tree.
  if (path.size() >= 2 && path[1] == ':' && (path[0] == 'C' || path[0] == 'c')) path[0] = 'D';

  const auto host = kernel::hostPath(path);
  if (!host) return 0;
  require(!host->empty() && host->front() == '/', "a host path is absolute", path, *host);
  require(host->find('\0') == std::string::npos, "no NUL in a host path", path, *host);
  for (size_t from = 1; from <= host->size();) {
    const size_t slash = std::min(host->find('/', from), host->size());
    const std::string_view part = std::string_view(*host).substr(from, slash - from);
    require(part != "." && part != "..", "no . or .. component", path, *host);
    require(!part.empty() || host->size() == 1, "no empty component", path, *host);
    from = slash + 1;
  }
  // Only D: exists besides C:, and C: was sent to D:: every path lands on D:.
  require(within(*host, root), "the path stays on its drive", path, *host);

  const std::string back = kernel::windowsPath(*host);
  const auto again = kernel::hostPath(back);
  require(again && *again == *host, "the Windows form maps to the same host path", back, again.value_or(""));
  return 0;
}
