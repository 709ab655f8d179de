// A large download cut half-way, then its second run: our layer continuing the partial file it kept
// (REST), beside `curl -C -` and lftp's `reget` continuing a local file of the same length, on the same
// vsftpd over loopback, rounds interleaved. Our download from zero is timed too, as the second run
// took before partial files were kept.
//
//   resume_bench [MiB] [rounds]   (default 300 and 3; needs root for vsftpd, curl and lftp)
//
// Each second run is a process of its own, timed whole (start, connect, logon, the rest of the file);
// every result is compared with the server's file.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "ftp_servers.h"
#include "inet/options.h"
#include "inet/wininet.h"
#include "kernel/paths.h"

namespace {

using Clock = std::chrono::steady_clock;

// ---- The child that downloads through the layer ----

struct Progress {
  std::mutex mutex;
  std::condition_variable done;
  bool complete = false;
  DWORD error = 0;
  uint64_t bytes = 0;
  uint64_t cutAt = 0;  // 0: no cut
  std::atomic<uint32_t> connection{0};
};

void callback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
  auto* p = reinterpret_cast<Progress*>(context);
  if (status == INTERNET_STATUS_RESPONSE_RECEIVED && length == 4) {
    p->bytes += *static_cast<DWORD*>(info);
    // The first run ends half-way, as a user's does who closes the window then.
    if (p->cutAt != 0 && p->bytes >= p->cutAt)
      if (const uint32_t conn = p->connection.exchange(0)) InternetCloseHandle(INET_HANDLE(conn));
  }
  if (status == INTERNET_STATUS_REQUEST_COMPLETE) {
    std::lock_guard lock(p->mutex);
    p->error = static_cast<INTERNET_ASYNC_RESULT*>(info)->dwError;
    p->complete = true;
    p->done.notify_all();
  }
}

DWORD await(Progress& p) {
  std::unique_lock lock(p.mutex);
  p.done.wait(lock, [&] { return p.complete; });
  p.complete = false;
  return p.error;
}

// argv: child server user password remote local cutAt (0: the whole file). Prints the seconds the
// download took and where it began.
int child(char** argv) {
  const std::string server = argv[2], user = argv[3], password = argv[4], remote = argv[5];
  const std::string local = kernel::windowsPath(argv[6]);
  Progress progress;
  progress.cutAt = std::strtoull(argv[7], nullptr, 10);
  HINTERNET root = InternetOpenA("bench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, INTERNET_FLAG_ASYNC);
  InternetSetStatusCallback(root, &callback);
  const DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&progress);
  HINTERNET conn = InternetConnectA(root, server.c_str(), 0, user.c_str(), password.c_str(),
                                    INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, context);
  if (!conn || await(progress) != 0) return std::fprintf(stderr, "connect failed: %u\n", progress.error), 2;
  progress.connection = INET_HANDLE_ID(conn);
  const auto start = Clock::now();
  FtpGetFileA(conn, remote.c_str(), local.c_str(), FALSE, 0, FTP_TRANSFER_TYPE_BINARY, context);
  const DWORD error = await(progress);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const uint64_t from = inet::resumedFrom(conn);
  const bool cut = progress.cutAt != 0;
  if (cut ? error != ERROR_INTERNET_OPERATION_CANCELLED : error != 0)
    return std::fprintf(stderr, "download failed: %u\n", error), 3;
  std::printf("%.6f %llu\n", seconds, static_cast<unsigned long long>(from));
  InternetCloseHandle(root);
  return 0;
}

// ---- The parent ----

struct Run {
  double seconds = 0;
  bool ok = false;
  std::string out;
};

Run runProcess(const std::vector<std::string>& args) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {};
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeFds[1], 1);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    ::execvp(argv[0], argv.data());
    std::_Exit(127);
  }
  ::close(pipeFds[1]);
  Run r;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) r.out.append(buffer, static_cast<size_t>(n));
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return r;
}

bool writePattern(const std::string& path, uint64_t size) {
  const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  if (fd < 0) return false;
  const std::string block = testsupport::randomBytes(1 << 20, 42);
  for (uint64_t left = size; left > 0;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
    if (::write(fd, block.data(), n) != static_cast<ssize_t>(n)) return ::close(fd), false;
    left -= n;
  }
  return ::close(fd) == 0;
}

// The first `length` bytes of `from` as the file `to`: the partial file a first run of curl or lftp
// would have left.
bool copyBeginning(const std::string& from, const std::string& to, uint64_t length) {
  const int in = ::open(from.c_str(), O_RDONLY);
  const int out = ::open(to.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  bool ok = in >= 0 && out >= 0;
  for (uint64_t left = length; ok && left > 0;) {
    const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, left, 0);
    ok = n > 0;
    if (ok) left -= static_cast<uint64_t>(n);
  }
  if (in >= 0) ::close(in);
  if (out >= 0) ok = ::close(out) == 0 && ok;
  return ok;
}

uint64_t sizeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

bool sameFile(const std::string& a, const std::string& b) { return runProcess({"cmp", "-s", a, b}).ok; }

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 8 && std::string(argv[1]) == "child") return child(argv);
  const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 300;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const uint64_t size = mib << 20;

  auto server = testsupport::startVsftpd();
  if (!server.ok()) return std::fprintf(stderr, "vsftpd: %s\n", server.error().c_str()), 1;
  testsupport::TempDir work("nimbo-bench");
  const std::string source = server->pathOf("big.bin").string();
  if (!writePattern(source, size)) return std::fprintf(stderr, "cannot write the test file\n"), 1;
  server->handOver();
  char exe[4096] = {};
  if (::readlink("/proc/self/exe", exe, sizeof exe - 1) <= 0) return 1;
  const std::string self = exe;
  const std::string url =
      "ftp://" + server->user() + ":" + server->password() + "@" + server->address() + "/big.bin";
  const std::string ours = (work / "ours.bin").string(), fresh = (work / "fresh.bin").string();
  const std::string curlFile = (work / "curl.bin").string(), lftpFile = (work / "lftp.bin").string();
  // Plain FTP, passive, no retries: the same dialogue as ours, and a failure shows at once.
  const std::string lftpScript =
      "set cmd:fail-exit yes; set net:max-retries 1; set ftp:ssl-allow no; "
      "set ftp:passive-mode yes; open -u " +
      server->user() + "," + server->password() + " ftp://" + server->address() + "; get -c /big.bin -o " +
      lftpFile;
  auto get = [&](const std::string& local, uint64_t cutAt) {
    return runProcess({self, "child", server->address(), server->user(), server->password(), "/big.bin",
                       local, std::to_string(cutAt)});
  };

  std::vector<double> oursTimes, curlTimes, lftpTimes, freshTimes, curlRatios, lftpRatios;
  uint64_t kept = 0;
  bool ok = true;
  for (int round = 0; round < rounds; ++round) {
    // The first run, cut half-way; the others resume from the same byte.
    Run cut = get(ours, size / 2);
    kept = sizeOf((work / ".ours.bin.part").string());
    ok = ok && cut.ok && kept > 0 && kept < size;
    if (!ok) {
      std::fprintf(stderr, "the first run was not cut half-way (kept %llu bytes)\n",
                   static_cast<unsigned long long>(kept));
      break;
    }
    ok = copyBeginning(source, curlFile, kept) && copyBeginning(source, lftpFile, kept);

    // The second runs, in an order that turns from round to round.
    double oursSeconds = 0, curlSeconds = 0, lftpSeconds = 0;
    for (int turn = 0; turn < 3; ++turn) {
      switch ((turn + round) % 3) {
        case 0: {
          Run r = get(ours, 0);
          unsigned long long from = 0;
          std::sscanf(r.out.c_str(), "%*f %llu", &from);
          ok = ok && r.ok && from == kept && sameFile(source, ours);
          oursSeconds = r.seconds;
          break;
        }
        case 1: {
          Run r = runProcess({"curl", "-s", "-S", "-C", "-", "-o", curlFile, url});
          ok = ok && r.ok && sameFile(source, curlFile);
          curlSeconds = r.seconds;
          break;
        }
        case 2: {
          Run r = runProcess({"lftp", "-c", lftpScript});
          ok = ok && r.ok && sameFile(source, lftpFile);
          lftpSeconds = r.seconds;
          break;
        }
      }
    }
    Run whole = get(fresh, 0);
    ok = ok && whole.ok && sameFile(source, fresh);
    for (const std::string& f : {ours, fresh, curlFile, lftpFile}) ::unlink(f.c_str());
    oursTimes.push_back(oursSeconds);
    curlTimes.push_back(curlSeconds);
    lftpTimes.push_back(lftpSeconds);
    freshTimes.push_back(whole.seconds);
    curlRatios.push_back(oursSeconds / curlSeconds);
    lftpRatios.push_back(oursSeconds / lftpSeconds);
    std::printf(
        "round %d: resumed at byte %llu; ours %.3f s, curl -C - %.3f s, lftp reget %.3f s; ours from zero "
        "%.3f s\n",
        round + 1, static_cast<unsigned long long>(kept), oursSeconds, curlSeconds, lftpSeconds,
        whole.seconds);
  }

  std::printf(
      "\n%llu MiB from vsftpd over loopback, passive mode, %d rounds; a time is a whole process (start,\n"
      "connect, logon, the rest of the file).\n\n",
      static_cast<unsigned long long>(mib), rounds);
  std::printf("second run, median: ours %.3f s, curl -C - %.3f s, lftp reget %.3f s\n", median(oursTimes),
              median(curlTimes), median(lftpTimes));
  std::printf("ratio ours/curl %.2f, ours/lftp %.2f (medians of the rounds' ratios)\n", median(curlRatios),
              median(lftpRatios));
  std::printf("ours from zero, median: %.3f s (the second run before partial files were kept)\n",
              median(freshTimes));
  if (!ok) std::printf("FAILED: a run failed or its file differs\n");
  return ok ? 0 : 1;
}
