// The program as its own process: started with an environment of the test's choosing, told to end as
// a desktop session ends it (SIGTERM), and its exit code taken.
#pragma once

#include <signal.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "process.h"

namespace programtest {

// Whether the process catches SIGTERM yet: from then on it ends cleanly on it.
inline bool catchesTermination(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("SigCgt:", 0) == 0) return (std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1)) & 1;
  return false;
}

// Starts the program with `env` (NAME=value, or -NAME to remove one), lets it run `settle`, asks it
// to end and returns its exit code; nothing when it did not end by itself within 20 s.
inline std::optional<int> runAndTerminate(const std::string& program, const std::vector<std::string>& env,
                                          std::chrono::milliseconds settle, const std::string& output) {
  std::vector<std::string> argv = {"/usr/bin/env"};
  for (const std::string& e : env) {
    if (!e.empty() && e[0] == '-') {
      argv.push_back("-u");
      argv.push_back(e.substr(1));
    } else {
      argv.push_back(e);
    }
  }
  argv.push_back(program);
  testsupport::SpawnRequest request;
  request.argv = argv;
  request.stdoutFile = output;
  testsupport::ChildProcess child;
  if (child.start(request)) return std::nullopt;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (child.running() && !catchesTermination(child.pid()) && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(settle);
  if (child.running()) ::kill(child.pid(), SIGTERM);
  return child.wait(std::chrono::steady_clock::now() + std::chrono::seconds(20));
}

}  // namespace programtest
