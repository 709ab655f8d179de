// Child processes of the test fixtures: started in a process group of their own, so that a server and
// every session process it forked end together, and killed when the test process dies.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

struct SpawnRequest {
  std::vector<std::string> argv;  // argv[0] is the program's full path
  std::string stdoutFile;         // appended to; empty: /dev/null
  std::string stderrFile;         // appended to; empty: same as stdout
  bool pipeStdout = false;        // stdout to a pipe the parent reads (readLine) instead
  std::string stdinText;          // written to the child's stdin, then closed
  bool killAtOnce = false;        // stop() sends SIGKILL at once: for a server with nothing to save
                                  // that takes its time over SIGTERM
};

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // stop()
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts the child; an error text when it could not be started.
  std::optional<std::string> start(const SpawnRequest& request);
  // One line of the child's piped stdout, waiting no longer than the deadline.
  std::optional<std::string> readLine(std::chrono::steady_clock::time_point deadline);
  // Stops reading the pipe.
  void closePipe();
  // True while the child runs; reaps it once it has ended.
  bool running();
  // Waits for the child to end by itself, at most until the deadline; its exit status, or nothing.
  std::optional<int> wait(std::chrono::steady_clock::time_point deadline);
  // SIGTERM to the group, a bounded wait, then SIGKILL (only SIGKILL when the request said so).
  void stop();
  pid_t pid() const { return pid_; }
  // The exit code once the child has ended (128 + the signal when killed by one).
  std::optional<int> status() const { return status_; }

 private:
  pid_t pid_ = -1;
  int pipe_ = -1;
  bool killAtOnce_ = false;
  std::string buffered_;
  std::optional<int> status_;
};

// Runs a command to its end (bounded); the exit code, or -1 when it could not run or did not end.
int runCommand(const std::vector<std::string>& argv, const std::string& stdinText = {},
               std::chrono::seconds limit = std::chrono::seconds(20));

}  // namespace testsupport
