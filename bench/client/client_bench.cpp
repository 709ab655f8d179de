// The client window under load, driven as a user drives it, against the same loopback server as curl:
//
// - how late the window's thread serves a 10 ms timer while a 1 GiB file downloads through the window
//   (the status callback writes progress into the window thousands of times a second);
// - how long a folder of 10,000 entries takes from its double-click until the tree shows it, beside
//   curl listing the same folder.
//
//   build/bench/client/client_bench [entries] [MiB]     (vsftpd needs root; pyftpdlib always runs)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "client_driver.h"
#include "engine/client_session.h"
#include "ftp_servers.h"
#include "window_fixture.h"

namespace {

namespace fs = std::filesystem;
using client::testing::Driver;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
constexpr int kRuns = 5;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

// A 10 ms timer on the window's thread; while recording, how late each tick came.
class Lateness {
 public:
  static constexpr qint64 kPeriodNs = 10'000'000;

  Lateness() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    clock_.start();
    timer_.start();
  }
  void record(bool on) {
    std::lock_guard lock(mutex_);
    if (on) samples_.clear();
    recording_ = on;
    due_ = 0;
  }
  std::vector<double> samples() {
    std::lock_guard lock(mutex_);
    return samples_;
  }

 private:
  void tick() {
    const qint64 now = clock_.nsecsElapsed();
    std::lock_guard lock(mutex_);
    if (recording_ && due_ != 0)
      samples_.push_back(static_cast<double>(std::max<qint64>(0, now - due_)) / 1e6);
    due_ = now + kPeriodNs;
  }

  QTimer timer_;
  QElapsedTimer clock_;
  std::mutex mutex_;
  bool recording_ = false;
  qint64 due_ = 0;
  std::vector<double> samples_;
};

struct Result {
  std::string kind;
  double curlMs = 0, folderMs = 0;
  std::size_t shown = 0;
  double downloadS = 0;
  std::vector<double> lateness;
  std::string error;
};

bool connect(Driver& d, const testsupport::FtpServer& server) {
  if (engine::bSessionOpen.load() == 0) d.click(client::control::StartSession);
  d.enterText(client::control::ServerName, server.address());
  d.enterText(client::control::UserName, server.user());
  d.enterText(client::control::Password, server.password());
  d.click(client::control::Connect);
  return Driver::waitFor([&] { return d.shown(client::control::RemoteTree) == server.address() + "\t"; });
}

void drive(Driver& d, const testsupport::FtpServer& server, int entries, Lateness& lateness, Result& out) {
  std::vector<double> folder;
  for (int run = 0; run < kRuns; ++run) {
    if (!connect(d, server)) {
      out.error = "no connection";
      return;
    }
    const int row = Driver::treeRow("/big");
    const auto start = Clock::now();
    d.clickRow(client::control::RemoteTree, row, ui::key::MouseLeftDouble);
    // The listing runs on the window's thread, which shows the tree before it takes the next event.
    while (DirectoryList.count() < static_cast<std::size_t>(entries) + 3) std::this_thread::sleep_for(1ms);
    d.settle();
    folder.push_back(msSince(start));
    out.shown = d.rows(client::control::RemoteTree).size();
    d.click(client::control::Disconnect);
    d.settle();
  }
  out.folderMs = median(folder);

  if (!connect(d, server)) return;
  d.clickRow(client::control::RemoteTree, Driver::treeRow("/huge.bin"));
  const auto start = Clock::now();
  lateness.record(true);
  d.click(client::control::Get);
  Driver::waitFor([] { return engine::OperationState.load() == engine::state::GetRunning; }, 10s);
  Driver::idle(600s);
  lateness.record(false);
  out.downloadS = msSince(start) / 1000;
  out.lateness = lateness.samples();
  d.click(client::control::CloseSession);
  d.settle();
}

Result benchServer(testsupport::StartedServer server, int entries, int mebibytes, Lateness& lateness) {
  Result out;
  if (!server.ok()) {
    out.error = server.error();
    return out;
  }
  out.kind = server->kind();
  server->makeDirectory("big");
  for (int i = 0; i < entries; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "big/file-%05d.txt", i);
    testsupport::writeFile(server->pathOf(name), std::string(static_cast<std::size_t>(i % 3000), 'x'));
  }
  server->put("huge.bin", "");
  fs::resize_file(server->pathOf("huge.bin"), static_cast<std::uintmax_t>(mebibytes) << 20);
  server->handOver();

  const std::string curl = "curl -s -o /dev/null --user '" + server->user() + ":" + server->password() +
                           "' ftp://" + server->address() + "/big/";
  std::vector<double> curlTimes;
  for (int i = 0; i < kRuns; ++i) {
    const auto start = Clock::now();
    if (std::system(curl.c_str()) != 0) std::fprintf(stderr, "curl failed\n");
    curlTimes.push_back(msSince(start));
  }
  out.curlMs = median(curlTimes);

  testsupport::TempDir local("nimbo-client-bench");
  const fs::path before = fs::current_path();
  fs::current_path(local.path());
  client::testing::runClient([&](Driver& d) { drive(d, *server, entries, lateness, out); });
  engine::closeSession();
  fs::current_path(before);
  return out;
}

void report(const Result& r, int entries, int mebibytes) {
  if (!r.error.empty()) {
    std::printf("%-10s skipped: %s\n", r.kind.c_str(), r.error.c_str());
    return;
  }
  std::printf(
      "%-10s folder of %d entries: curl LIST %.1f ms | double-click to tree shown %.1f ms (%zu rows, "
      "%.2fx curl)\n",
      r.kind.c_str(), entries, r.curlMs, r.folderMs, r.shown, r.folderMs / r.curlMs);
  std::printf(
      "%-10s %d MiB download through the window: %.2f s (%.0f MiB/s); window thread 10 ms timer "
      "lateness over %zu ticks: p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
      r.kind.c_str(), mebibytes, r.downloadS, mebibytes / r.downloadS, r.lateness.size(),
      percentile(r.lateness, 0.5), percentile(r.lateness, 0.99), percentile(r.lateness, 1.0));
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const int entries = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int mebibytes = argc > 2 ? std::atoi(argv[2]) : 1024;
  if (!ui::start()) {
    std::fprintf(stderr, "%s\n", ui::startError().c_str());
    return 1;
  }
  ui::test::headlessDialogs(true);
  client::testing::addClientWindowDefinitions();
  Lateness lateness;
  std::printf("medians of %d runs; the machine is shared, so these are indicative\n", kRuns);
  report(benchServer(testsupport::startVsftpd(), entries, mebibytes, lateness), entries, mebibytes);
  report(benchServer(testsupport::startPyftpdlib(), entries, mebibytes, lateness), entries, mebibytes);
  return 0;
}
