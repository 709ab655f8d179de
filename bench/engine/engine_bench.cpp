// Listing a directory of 10,000 entries into the remote tree, and refreshing that node, against curl
// listing the same directory from the same server in the same run.
//
//   build/bench/engine/engine_bench [entries]     (vsftpd needs root; pyftpdlib always runs)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/client_session.h"
#include "engine/directory_tree.h"
#include "ftp_servers.h"
#include "inet/wininet.h"
#include "standin_window.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRuns = 7;

double medianMs(const std::function<void()>& run) {
  std::vector<double> times;
  for (int i = 0; i < kRuns; ++i) {
    const auto start = Clock::now();
    run();
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void dropChildren() {
  DirectoryList.locked([](auto& tree) { tree.delRange(3, tree.count()); });  // root, big, then its children
}

void benchServer(testsupport::StartedServer server, int entries) {
  if (!server.ok()) {
    std::printf("%-10s skipped: %s\n", "", server.error().c_str());
    return;
  }
  const std::string kind = server->kind();
  server->makeDirectory("big");
  for (int i = 0; i < entries; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "big/file-%05d.txt", i);
    testsupport::writeFile(server->pathOf(name), std::string(static_cast<std::size_t>(i % 3000), 'x'));
  }
  server->handOver();

  const std::string curl = "curl -s -o /dev/null --user '" + server->user() + ":" + server->password() +
                           "' ftp://" + server->address() + "/big/";
  const double curlMs = medianMs([&] {
    if (std::system(curl.c_str()) != 0) std::fprintf(stderr, "curl failed\n");
  });

  ServerName = server->address();
  engine::UserName = server->user();
  engine::Password = server->password();
  engine::AgentName = engine::kAgentName;
  engine::ConnectFlags = INTERNET_FLAG_PASSIVE;
  DirectoryList.free();
  FoundFiles.free();
  engine::insertListing(server->address());
  FoundFilesRecord big;
  big.FILENAME = "big";
  big.ATTRIBUTE = 16;
  FoundFiles.add(big);
  engine::insertListing(server->address());

  const double listMs = medianMs([&] {
    dropChildren();
    engine::ListParentPath = server->address() + "/big";
    engine::ListDirectory = "/big";
    engine::listRemoteDirectory();
  });
  const std::size_t listed = DirectoryList.count() - 2;
  // The same listing on a worker thread, as the status callback runs it after a command.
  const double workerMs = medianMs([&] {
    dropChildren();
    engine::ListParentPath = server->address() + "/big";
    engine::ListDirectory = "/big";
    std::thread worker(engine::listRemoteDirectory);
    worker.join();
  });
  engine::RemoteDirectory = "/big";
  const double refreshMs = medianMs([] { engine::refreshRemoteNode(); });
  const std::size_t refreshed = DirectoryList.count() - 2;

  // The tree alone, without the network: the same entries inserted under the node and pruned again.
  const double insertMs = medianMs([&] {
    dropChildren();
    engine::insertListing(server->address() + "/big");
  });
  std::vector<double> prunes;
  for (int i = 0; i < kRuns; ++i) {
    engine::insertListing(server->address() + "/big");
    const auto start = Clock::now();
    dropChildren();
    prunes.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(prunes.begin(), prunes.end());
  const double pruneMs = prunes[prunes.size() / 2];

  std::printf(
      "%-10s curl LIST %8.1f ms | list into tree %8.1f ms (%zu entries, %.2fx curl) | refresh node %8.1f ms "
      "(%zu entries, %.2fx curl)\n",
      kind.c_str(), curlMs, listMs, listed, listMs / curlMs, refreshMs, refreshed, refreshMs / curlMs);
  std::printf("%-10s on a worker thread: list into tree %8.1f ms (%.2fx curl)\n", kind.c_str(), workerMs,
              workerMs / curlMs);
  std::printf("%-10s tree only: insert %zu entries %.1f ms, prune them %.2f ms\n", kind.c_str(), listed,
              insertMs, pruneMs);
  if (const auto session = hOpen.exchange(0)) InternetCloseHandle(INET_HANDLE(session));
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const int entries = argc > 1 ? std::atoi(argv[1]) : 10000;
  ui::test::headlessDialogs(true);
  enginetest::StandInWindow window;
  std::printf("%d entries, median of %d runs\n", entries, kRuns);
  benchServer(testsupport::startVsftpd(), entries);
  benchServer(testsupport::startPyftpdlib(), entries);
  return 0;
}
