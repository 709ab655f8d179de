// Throughput and peak memory of a large download and upload: our layer in asynchronous mode against
// curl (download and upload) and lftp's `get` (download), one after the other on the same vsftpd over
// loopback. Each transfer runs in a process of its own, so its peak resident memory is its own.
//
//   inet_transfer_bench [MiB] [rounds] [tls]   (default 1024 and 3; needs root for vsftpd, curl and lftp)
//
// With "tls" all of them use explicit FTP over TLS (AUTH TLS, protected data resuming the control
// connection's session), against the tests' certificate authority.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "certificates.h"
#include "ftp_servers.h"
#include "inet/certificates.h"
#include "inet/wininet.h"
#include "kernel/paths.h"

namespace {

using Clock = std::chrono::steady_clock;

// ---- The child that moves one file through the layer ----

struct Progress {
  std::mutex mutex;
  std::condition_variable done;
  bool complete = false;
  DWORD error = 0;
  uint64_t bytes = 0;  // what the notifications announced, as a client's progress bar counts it
};

void callback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
  auto* p = reinterpret_cast<Progress*>(context);
  if ((status == INTERNET_STATUS_RESPONSE_RECEIVED || status == INTERNET_STATUS_REQUEST_SENT) && length == 4)
    p->bytes += *static_cast<DWORD*>(info);
  if (status == INTERNET_STATUS_REQUEST_COMPLETE) {
    std::lock_guard lock(p->mutex);
    p->error = static_cast<INTERNET_ASYNC_RESULT*>(info)->dwError;
    p->complete = true;
    p->done.notify_all();
  }
}

bool await(Progress& p) {
  std::unique_lock lock(p.mutex);
  p.done.wait(lock, [&] { return p.complete; });
  p.complete = false;
  return p.error == 0;
}

// argv: child get|put server user password remote local. Prints the seconds the transfer took.
int child(char** argv) {
  const std::string direction = argv[2], server = argv[3], user = argv[4], password = argv[5],
                    remote = argv[6];
  const std::string local = kernel::windowsPath(argv[7]);
  Progress progress;
  if (const char* authority = std::getenv("NIMBO_BENCH_AUTHORITY")) inet::setExtraAuthorities(authority);
  HINTERNET root = InternetOpenA("bench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, INTERNET_FLAG_ASYNC);
  InternetSetStatusCallback(root, &callback);
  const DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&progress);
  HINTERNET conn = InternetConnectA(root, server.c_str(), 0, user.c_str(), password.c_str(),
                                    INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, context);
  if (!conn || !await(progress)) return std::fprintf(stderr, "connect failed: %u\n", progress.error), 2;
  const auto start = Clock::now();
  if (direction == "get")
    FtpGetFileA(conn, remote.c_str(), local.c_str(), FALSE, 0, FTP_TRANSFER_TYPE_BINARY, context);
  else
    FtpPutFileA(conn, local.c_str(), remote.c_str(), FTP_TRANSFER_TYPE_BINARY, context);
  const bool ok = await(progress);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!ok) return std::fprintf(stderr, "%s failed: %u\n", direction.c_str(), progress.error), 3;
  std::printf("%.6f %llu\n", seconds, static_cast<unsigned long long>(progress.bytes));
  InternetCloseHandle(root);
  return 0;
}

// ---- The parent ----

struct Run {
  double seconds = 0;     // wall clock, the whole process
  double cpuSeconds = 0;  // user + system time of the process
  long peakKiB = 0;
  bool ok = false;
};

// Runs argv to its end; its standard output goes to `out`.
Run runProcess(const std::vector<std::string>& args, std::string* out = nullptr) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return {};
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto start = Clock::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeFds[1], 1);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    ::execvp(argv[0], argv.data());
    std::_Exit(127);
  }
  ::close(pipeFds[1]);
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  ::close(pipeFds[0]);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  Run r;
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.cpuSeconds =
      usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  r.peakKiB = usage.ru_maxrss;
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (out) *out = text;
  return r;
}

// Several runs of one way of transferring: the machine may be busy, so the median counts.
struct Series {
  std::vector<double> rates;  // bytes per second
  double cpu = 0;
  long peakKiB = 0;
  bool ok = true;
  void add(const Run& r, uint64_t size) {
    ok = ok && r.ok;
    rates.push_back(size / r.seconds);
    cpu += r.cpuSeconds;
    peakKiB = std::max(peakKiB, r.peakKiB);
  }
  double median() const {
    std::vector<double> v = rates;
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
  }
  double best() const { return rates.empty() ? 0 : *std::max_element(rates.begin(), rates.end()); }
};

bool writePattern(const std::string& path, uint64_t size) {
  int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  if (fd < 0) return false;
  std::string block = testsupport::randomBytes(1 << 20, 42);
  for (uint64_t left = size; left > 0;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
    if (::write(fd, block.data(), n) != static_cast<ssize_t>(n)) return ::close(fd), false;
    left -= n;
  }
  return ::close(fd) == 0;
}

uint64_t sizeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

bool sameFile(const std::string& a, const std::string& b) {
  std::string out;
  return runProcess({"cmp", "-s", a, b}, &out).ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 8 && std::string(argv[1]) == "child") return child(argv);
  const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const uint64_t size = mib << 20;
  const bool tls = argc > 3 && std::string(argv[3]) == "tls";

  testsupport::ServerOptions options;
  if (tls) {
    options.tls = testsupport::Tls::Explicit;
    options.strictTlsClose = false;  // curl ends no upload with a TLS close
  }
  auto server = testsupport::startVsftpd(options);
  if (!server.ok()) return std::fprintf(stderr, "vsftpd: %s\n", server.error().c_str()), 1;
  testsupport::TempDir work("nimbo-bench");
  const std::string source = server->pathOf("big.bin").string();
  const std::string upload = (work / "upload.bin").string();
  if (!writePattern(source, size) || !writePattern(upload, size))
    return std::fprintf(stderr, "cannot write the test files\n"), 1;
  server->handOver();
  char exe[4096] = {};
  if (::readlink("/proc/self/exe", exe, sizeof exe - 1) <= 0) return 1;
  const std::string url =
      "ftp://" + server->user() + ":" + server->password() + "@" + server->address() + "/";
  const std::string name = (tls ? "ftpes://" : "") + server->address();
  const std::string authority = testsupport::testCertificates().authority.string();
  ::setenv("NIMBO_BENCH_AUTHORITY", authority.c_str(), 1);
  // curl over TLS 1.3 closes data connections on the session tickets the server sends there unread,
  // which resets an upload under the server: TLS 1.2 for its uploads.
  const std::vector<std::string> curlTls =
      tls ? std::vector<std::string>{"--ssl-reqd", "--cacert", authority} : std::vector<std::string>{};
  auto curl = [&](std::vector<std::string> args, bool upload) {
    std::vector<std::string> all = {"curl", "-s", "-S"};
    all.insert(all.end(), curlTls.begin(), curlTls.end());
    if (tls && upload) all.insert(all.end(), {"--tls-max", "1.2"});
    all.insert(all.end(), args.begin(), args.end());
    return all;
  };
  const std::string ours = (work / "ours.bin").string(), theirs = (work / "curl.bin").string();
  const std::string lftpFile = (work / "lftp.bin").string();
  // Plain FTP, passive, no retries: the same dialogue as ours, and a failure shows at once.
  const std::string lftpScript =
      "set cmd:fail-exit yes; set net:max-retries 1; " +
      (tls ? "set ftp:ssl-force yes; set ftp:ssl-protect-data yes; set ssl:ca-file " + authority + "; "
           : std::string("set ftp:ssl-allow no; ")) +
      "set ftp:passive-mode yes; set xfer:clobber yes; open -u " + server->user() + "," + server->password() +
      " ftp://" + server->address() + "; get /big.bin -o " + lftpFile;

  // Rounds interleave the clients, so that a busy moment of the machine hits them alike.
  Series inetGet, curlGet, lftpGet, inetPut, curlPut;
  std::vector<double> lftpPairs;  // per round: our download's time over lftp's
  for (int round = 0; round < rounds; ++round) {
    Run r = runProcess({exe, "child", "get", name, server->user(), server->password(), "/big.bin", ours});
    r.ok = r.ok && sameFile(source, ours);
    inetGet.add(r, size);
    ::unlink(ours.c_str());
    r = runProcess(curl({"-o", theirs, url + "big.bin"}, false));
    r.ok = r.ok && sizeOf(theirs) == size;
    curlGet.add(r, size);
    ::unlink(theirs.c_str());
    const double oursSeconds = size / inetGet.rates.back();
    r = runProcess({"lftp", "-c", lftpScript});
    r.ok = r.ok && sizeOf(lftpFile) == size;
    lftpGet.add(r, size);
    if (r.ok) lftpPairs.push_back(oursSeconds / r.seconds);
    ::unlink(lftpFile.c_str());

    r = runProcess({exe, "child", "put", name, server->user(), server->password(), "/up-ours.bin", upload});
    r.ok = r.ok && sameFile(upload, server->pathOf("up-ours.bin").string());
    inetPut.add(r, size);
    ::unlink(server->pathOf("up-ours.bin").c_str());
    r = runProcess(curl({"-T", upload, url + "up-curl.bin"}, true));
    r.ok = r.ok && sizeOf(server->pathOf("up-curl.bin").string()) == size;
    curlPut.add(r, size);
    ::unlink(server->pathOf("up-curl.bin").c_str());
  }

  std::printf(
      "%llu MiB over loopback to vsftpd%s, passive mode, %d rounds; a time is a whole process\n"
      "(start, connect, logon, transfer); CPU is the client process's user + system time.\n\n",
      static_cast<unsigned long long>(mib), tls ? " over explicit TLS" : "", rounds);
  std::printf("%-9s %-5s %12s %10s %14s %14s\n", "transfer", "by", "median MB/s", "best MB/s", "CPU s/round",
              "peak RSS MiB");
  auto line = [&](const char* what, const char* who, const Series& s) {
    std::printf("%-9s %-5s %12.1f %10.1f %14.2f %14.1f%s\n", what, who, s.median() / 1e6, s.best() / 1e6,
                s.cpu / rounds, s.peakKiB / 1024.0, s.ok ? "" : "  FAILED");
  };
  line("download", "inet", inetGet);
  line("download", "curl", curlGet);
  line("download", "lftp", lftpGet);
  line("upload", "inet", inetPut);
  line("upload", "curl", curlPut);
  auto ratio = [](const Series& a, const Series& b) {
    return b.median() > 0 ? a.median() / b.median() : 0.0;
  };
  std::printf("\nthroughput ratio inet/curl (medians): download %.2f, upload %.2f\n", ratio(inetGet, curlGet),
              ratio(inetPut, curlPut));
  std::printf("throughput ratio inet/lftp (medians): download %.2f\n", ratio(inetGet, lftpGet));
  std::printf("download time inet/lftp, round by round:");
  for (double t : lftpPairs) std::printf(" %.2f", t);
  std::printf("\n");
  return inetGet.ok && curlGet.ok && lftpGet.ok && inetPut.ok && curlPut.ok ? 0 : 1;
}
