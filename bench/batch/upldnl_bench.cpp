// 255 files of 4 KiB downloaded and uploaded again by UPLDNL_AS against vsftpd on loopback, beside the
// same 255 transfers made by curl with a fresh connection (a process of its own) for each file, in one
// run. Prints both times and their ratio.
//
// Usage: batch_upldnl_bench [rounds]   (default 3; the best round of each counts)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ftp_servers.h"
#include "nimbo.h"
#include "process.h"
#include "ui/runtime.h"

namespace {

namespace ts = testsupport;
using Clock = std::chrono::steady_clock;

constexpr int kFiles = 255;
constexpr std::size_t kFileSize = 4096;

std::string nameOf(int i) {
  std::string name = std::to_string(i);
  return std::string(name.size() < 3 ? 3 - name.size() : 0, '0') + name;
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// One curl process per file; returns the wall time and the sum of curl's own time_total (which
// leaves out starting the process).
std::pair<double, double> curlEach(const std::vector<std::vector<std::string>>& commands) {
  double own = 0;
  const auto start = Clock::now();
  for (const auto& argv : commands) {
    ts::ChildProcess curl;
    ts::SpawnRequest request;
    request.argv = argv;
    request.pipeStdout = true;
    if (auto error = curl.start(request)) {
      std::fprintf(stderr, "curl: %s\n", error->c_str());
      std::exit(1);
    }
    const auto line = curl.readLine(Clock::now() + std::chrono::seconds(20));
    const auto status = curl.wait(Clock::now() + std::chrono::seconds(20));
    if (!line || status != 0) {
      std::fprintf(stderr, "curl failed (%d)\n", status.value_or(-1));
      std::exit(1);
    }
    own += std::strtod(line->c_str(), nullptr);
  }
  return {seconds(Clock::now() - start), own};
}

bool sameFiles(const std::filesystem::path& dir, const std::string& bytes) {
  for (int i = 0; i < kFiles; ++i)
    if (ts::readFile(dir / nameOf(i)) != bytes) return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);  // the batch window needs no display to be timed
  if (!ui::start()) {
    std::fprintf(stderr, "no window runtime: %s\n", ui::startError().c_str());
    return 1;
  }
  auto server = ts::startVsftpd();
  if (!server.ok()) {
    std::fprintf(stderr, "vsftpd: %s\n", server.error().c_str());
    return 1;
  }
  const std::string bytes = ts::randomBytes(kFileSize, 11);
  std::string list;
  for (int i = 0; i < kFiles; ++i) {
    server->put("incoming/" + nameOf(i), bytes);
    list += (i ? "," : "") + nameOf(i);
  }
  const std::string url = "ftp://" + server->user() + ":" + server->password() + "@" + server->address();

  double bestGet = 1e9, bestPut = 1e9, bestCurlGet = 1e9, bestCurlPut = 1e9, bestOwnGet = 1e9,
         bestOwnPut = 1e9;
  for (int round = 0; round < rounds; ++round) {
    ts::TempDir mine, theirs;
    const std::string up = "up" + std::to_string(round), curlUp = "curlup" + std::to_string(round);
    server->makeDirectory(up);
    server->makeDirectory(curlUp);

    auto start = Clock::now();
    UPLDNL_AS(server->address().c_str(), server->user().c_str(), server->password().c_str(), "/incoming",
              mine.path().c_str(), list.c_str(), 1, 1);
    const double get = seconds(Clock::now() - start);
    start = Clock::now();
    UPLDNL_AS(server->address().c_str(), server->user().c_str(), server->password().c_str(),
              ("/" + up).c_str(), mine.path().c_str(), list.c_str(), 1, 0);
    const double put = seconds(Clock::now() - start);
    if (!sameFiles(mine.path(), bytes) || !sameFiles(server->root() / up, bytes)) {
      std::fprintf(stderr, "the batch did not move every file intact\n");
      return 1;
    }

    std::vector<std::vector<std::string>> gets, puts;
    for (int i = 0; i < kFiles; ++i) {
      gets.push_back({"/usr/bin/curl", "-s", "-S", "-o", (theirs.path() / nameOf(i)).string(), "-w",
                      "%{time_total}\n", url + "/incoming/" + nameOf(i)});
      puts.push_back({"/usr/bin/curl", "-s", "-S", "-o", "/dev/null", "-T",
                      (theirs.path() / nameOf(i)).string(), "-w", "%{time_total}\n",
                      url + "/" + curlUp + "/"});
    }
    const auto [curlGet, ownGet] = curlEach(gets);
    const auto [curlPut, ownPut] = curlEach(puts);
    if (!sameFiles(theirs.path(), bytes) || !sameFiles(server->root() / curlUp, bytes)) {
      std::fprintf(stderr, "curl did not move every file intact\n");
      return 1;
    }
    std::printf("round %d: batch get %.3f s put %.3f s | curl get %.3f s (own %.3f) put %.3f s (own %.3f)\n",
                round + 1, get, put, curlGet, ownGet, curlPut, ownPut);
    bestGet = std::min(bestGet, get);
    bestPut = std::min(bestPut, put);
    bestCurlGet = std::min(bestCurlGet, curlGet);
    bestCurlPut = std::min(bestCurlPut, curlPut);
    bestOwnGet = std::min(bestOwnGet, ownGet);
    bestOwnPut = std::min(bestOwnPut, ownPut);
  }
  std::printf("\n%d files of %zu bytes, vsftpd on loopback, best of %d rounds\n", kFiles, kFileSize, rounds);
  std::printf("download: UPLDNL_AS %.3f s, curl %.3f s (its own time %.3f s): ratio %.2f (%.2f)\n", bestGet,
              bestCurlGet, bestOwnGet, bestGet / bestCurlGet, bestGet / bestOwnGet);
  std::printf("upload:   UPLDNL_AS %.3f s, curl %.3f s (its own time %.3f s): ratio %.2f (%.2f)\n", bestPut,
              bestCurlPut, bestOwnPut, bestPut / bestCurlPut, bestPut / bestOwnPut);
  const double both = bestGet + bestPut, curlBoth = bestCurlGet + bestCurlPut,
               ownBoth = bestOwnGet + bestOwnPut;
  std::printf("both:     UPLDNL_AS %.3f s, curl %.3f s (its own time %.3f s): ratio %.2f (%.2f)\n", both,
              curlBoth, ownBoth, both / curlBoth, both / ownBoth);
  return 0;
}
