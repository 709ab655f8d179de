#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>
#include <utility>

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;

int openForAppend(const std::string& file) {
  if (file.empty()) return ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  return ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

}  // namespace

ChildProcess::~ChildProcess() { stop(); }

std::optional<std::string> ChildProcess::start(const SpawnRequest& request) {
  if (request.argv.empty()) return "no program given";
  // Everything the child needs is prepared before fork: after it only async-signal-safe calls.
  std::vector<char*> argv;
  for (const auto& a : request.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  Fd out(openForAppend(request.stdoutFile));
  Fd err(request.stderrFile.empty() ? ::dup(out.get()) : openForAppend(request.stderrFile));
  if (out.get() < 0 || err.get() < 0) return "cannot open the log file: " + std::string(std::strerror(errno));
  int outPipe[2] = {-1, -1};
  int inPipe[2] = {-1, -1};
  if (request.pipeStdout && ::pipe2(outPipe, O_CLOEXEC) != 0)
    return "pipe: " + std::string(std::strerror(errno));
  Fd pipeRead(outPipe[0]), pipeWrite(outPipe[1]);
  if (::pipe2(inPipe, O_CLOEXEC) != 0) return "pipe: " + std::string(std::strerror(errno));
  Fd stdinRead(inPipe[0]), stdinWrite(inPipe[1]);
  const pid_t parent = ::getpid();

  const pid_t pid = ::fork();
  if (pid < 0) return "fork: " + std::string(std::strerror(errno));
  if (pid == 0) {
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    ::dup2(stdinRead.get(), 0);
    ::dup2(request.pipeStdout ? pipeWrite.get() : out.get(), 1);
    ::dup2(err.get(), 2);
    // Nothing else of the test process (listening sockets above all) may live on in a server.
    ::close_range(3, ~0U, 0);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::setpgid(pid, pid);  // also here, so that stop() finds the group even if the child is slow to run
  pid_ = pid;
  killAtOnce_ = request.killAtOnce;
  status_.reset();
  stdinRead.reset();
  if (!request.stdinText.empty()) {
    // Small texts only (a password line): they fit the pipe, so this cannot block.
    [[maybe_unused]] auto n = ::write(stdinWrite.get(), request.stdinText.data(), request.stdinText.size());
  }
  stdinWrite.reset();
  if (request.pipeStdout) pipe_ = pipeRead.release();
  return std::nullopt;
}

std::optional<std::string> ChildProcess::readLine(Clock::time_point deadline) {
  for (;;) {
    if (auto nl = buffered_.find('\n'); nl != std::string::npos) {
      std::string line = buffered_.substr(0, nl);
      buffered_.erase(0, nl + 1);
      return line;
    }
    if (pipe_ < 0) return std::nullopt;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return std::nullopt;
    pollfd p{pipe_, POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return std::nullopt;
    char chunk[512];
    const ssize_t n = ::read(pipe_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      closePipe();  // the child closed its end (or died): no line will come
      return std::nullopt;
    }
    buffered_.append(chunk, static_cast<size_t>(n));
  }
}

void ChildProcess::closePipe() {
  if (pipe_ >= 0) ::close(pipe_);
  pipe_ = -1;
}

bool ChildProcess::running() {
  if (pid_ < 0) return false;
  if (status_) return false;
  // WNOWAIT leaves the child a zombie: its pid, and so its group id, cannot be reused before stop()
  // reaps it, which keeps the group kill in stop() aimed at our own processes.
  siginfo_t info{};
  if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return false;
  if (info.si_pid != pid_) return true;
  status_ = info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
  return false;
}

std::optional<int> ChildProcess::wait(Clock::time_point deadline) {
  while (running()) {
    if (Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return status_;
}

void ChildProcess::stop() {
  closePipe();
  if (pid_ < 0) return;
  if (running() && !killAtOnce_) {
    ::kill(-pid_, SIGTERM);
    wait(Clock::now() + std::chrono::seconds(3));
  }
  // Whatever is left of the group (a server that ignored SIGTERM, session processes it forked).
  ::kill(-pid_, SIGKILL);
  int st = 0;
  while (::waitpid(pid_, &st, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

int runCommand(const std::vector<std::string>& argv, const std::string& stdinText,
               std::chrono::seconds limit) {
  ChildProcess child;
  SpawnRequest request;
  request.argv = argv;
  request.stdinText = stdinText;
  if (child.start(request)) return -1;
  const auto status = child.wait(Clock::now() + limit);
  return status ? *status : -1;
}

}  // namespace testsupport
