// A batch of small files moved by UPLDNL_AS against one curl process moving the same files, each over a
// fresh connection, from the same anonymous vsftpd on loopback, interleaved round by round. curl gets a
// distinct password in every URL, so it cannot reuse a connection and logs on once per file; UPLDNL_AS
// connects once per file too, and the FTP layer takes its kept logged-on connection again
// (NIMBO_FTP_KEEP=0 makes it log on once per file as well).
//
// Usage: batch_upldnl_bench [rounds] [files] [vsftpd|pyftpdlib]
//        (default 5 rounds of 255 files of 4 KiB from vsftpd, which needs root)
//
// Prints each round's times and ratios (UPLDNL_AS ÷ curl) and their medians. The downloads are the
// measure; the uploads are reported beside them. vsftpd starts a process for every session, which
// costs more than either client does; pyftpdlib serves a session at less cost, so the clients' own
// costs show more.
#include <pwd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "ftp_servers.h"
#include "nimbo.h"
#include "process.h"
#include "ui/runtime.h"

namespace {

namespace fs = std::filesystem;
namespace ts = testsupport;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kFileSize = 4096;

std::string nameOf(int i) {
  std::string name = std::to_string(i);
  return std::string(name.size() < 3 ? 3 - name.size() : 0, '0') + name;
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// CPU seconds (user and system) of this process, or of its children that have ended.
double cpu(int who) {
  rusage usage{};
  ::getrusage(who, &usage);
  const auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return s(usage.ru_utime) + s(usage.ru_stime);
}

struct Timing {
  double wall = 0, cpu = 0;
};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One curl process with every transfer in a config file; a negative wall time when it failed.
Timing curlOnce(const fs::path& config) {
  const double cpuBefore = cpu(RUSAGE_CHILDREN);
  const auto start = Clock::now();
  const int status =
      ts::runCommand({"/usr/bin/curl", "-s", "-S", "-K", config.string()}, {}, std::chrono::seconds(300));
  return {status == 0 ? seconds(Clock::now() - start) : -1, cpu(RUSAGE_CHILDREN) - cpuBefore};
}

Timing batch(const std::string& server, const std::string& remote, const fs::path& local,
             const std::string& list, uint8_t direction) {
  const double cpuBefore = cpu(RUSAGE_SELF);
  const auto start = Clock::now();
  UPLDNL_AS(server.c_str(), "anonymous", "guest@", remote.c_str(), local.c_str(), list.c_str(), 1, direction);
  return {seconds(Clock::now() - start), cpu(RUSAGE_SELF) - cpuBefore};
}

bool sameFiles(const fs::path& dir, int files, const std::string& bytes) {
  for (int i = 0; i < files; ++i)
    if (ts::readFile(dir / nameOf(i)) != bytes) return false;
  return true;
}

// A directory anonymous users may upload into.
bool uploadDirectory(const fs::path& dir) {
  const passwd* ftp = ::getpwnam("ftp");
  std::error_code ec;
  return ftp && fs::create_directory(dir, ec) && ::chown(dir.c_str(), ftp->pw_uid, ftp->pw_gid) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const int files = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 255) : 255;
  const std::string kind = argc > 3 ? argv[3] : "vsftpd";
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);  // the batch window needs no display to be timed
  if (!ui::start()) {
    std::fprintf(stderr, "no window runtime: %s\n", ui::startError().c_str());
    return 1;
  }
  ts::ServerOptions options;
  options.anonymous = true;
  auto server = kind == "pyftpdlib" ? ts::startPyftpdlib(options) : ts::startVsftpd(options);
  if (!server.ok()) {
    std::fprintf(stderr, "%s: %s\n", kind.c_str(), server.error().c_str());
    return 1;
  }
  const std::string bytes = ts::randomBytes(kFileSize, 11);
  std::string list;
  for (int i = 0; i < files; ++i) {
    server->put("incoming/" + nameOf(i), bytes);
    list += (i ? "," : "") + nameOf(i);
  }
  const std::string host = server->address();
  const std::string url = "ftp://anonymous:";

  std::vector<double> gets, curlGets, puts, curlPuts;
  for (int round = 0; round < rounds; ++round) {
    ts::TempDir mine, theirs;
    const std::string up = "incoming/up" + std::to_string(round);
    const std::string curlUp = "incoming/curlup" + std::to_string(round);
    if (!uploadDirectory(server->pathOf(up)) || !uploadDirectory(server->pathOf(curlUp))) {
      std::fprintf(stderr, "cannot make the upload directories\n");
      return 1;
    }
    const fs::path getConfig = theirs / "get.curlrc", putConfig = theirs / "put.curlrc";
    {
      std::ofstream get(getConfig), put(putConfig);
      for (int i = 0; i < files; ++i) {
        const std::string login = url + "pw" + std::to_string(round) + "-" + std::to_string(i) + "@" + host;
        get << "url = \"" << login << "/incoming/" << nameOf(i) << "\"\noutput = \""
            << (theirs / nameOf(i)).string() << "\"\n";
        put << "upload-file = \"" << (theirs / nameOf(i)).string() << "\"\nurl = \"" << login << "/" << curlUp
            << "/\"\n";
      }
    }

    // Which goes first alternates, so that a drift in the machine's load favours neither.
    Timing get, curlGet, put, curlPut;
    const bool batchFirst = round % 2 == 0;
    for (int turn = 0; turn < 2; ++turn) {
      if ((turn == 0) == batchFirst)
        get = batch(host, "/incoming", mine.path(), list, 1);
      else
        curlGet = curlOnce(getConfig);
    }
    for (int turn = 0; turn < 2; ++turn) {
      if ((turn == 0) == batchFirst)
        put = batch(host, "/" + up, mine.path(), list, 0);
      else
        curlPut = curlOnce(putConfig);
    }
    if (curlGet.wall < 0 || curlPut.wall < 0) {
      std::fprintf(stderr, "curl failed\n%s\n", server->log().c_str());
      return 1;
    }
    if (!sameFiles(mine.path(), files, bytes) || !sameFiles(server->pathOf(up), files, bytes) ||
        !sameFiles(theirs.path(), files, bytes) || !sameFiles(server->pathOf(curlUp), files, bytes)) {
      std::fprintf(stderr, "a file did not arrive intact\n");
      return 1;
    }
    std::printf(
        "round %d: download UPLDNL_AS %.3f s (cpu %.3f), curl %.3f s (cpu %.3f), ratio %.2f | upload "
        "%.3f s (cpu %.3f), %.3f s (cpu %.3f), ratio %.2f\n",
        round + 1, get.wall, get.cpu, curlGet.wall, curlGet.cpu, get.wall / curlGet.wall, put.wall, put.cpu,
        curlPut.wall, curlPut.cpu, put.wall / curlPut.wall);
    std::fflush(stdout);
    gets.push_back(get.wall);
    curlGets.push_back(curlGet.wall);
    puts.push_back(put.wall);
    curlPuts.push_back(curlPut.wall);
  }
  std::vector<double> getRatios, putRatios;
  for (int i = 0; i < rounds; ++i) {
    getRatios.push_back(gets[i] / curlGets[i]);
    putRatios.push_back(puts[i] / curlPuts[i]);
  }
  std::printf("\n%d files of %zu bytes, anonymous %s on loopback, medians of %d interleaved rounds\n", files,
              kFileSize, kind.c_str(), rounds);
  std::printf("download: UPLDNL_AS %.3f s, curl %.3f s, ratio %.2f\n", median(gets), median(curlGets),
              median(getRatios));
  std::printf("upload:   UPLDNL_AS %.3f s, curl %.3f s, ratio %.2f\n", median(puts), median(curlPuts),
              median(putRatios));
  return 0;
}
