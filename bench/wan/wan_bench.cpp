// Our client beside curl and lftp over an emulated slow link: vsftpd on 127.0.0.1 behind a relay on
// 127.0.0.2 that holds every byte for half the round trip each way (control connection and passive data
// ports alike). Run it inside a network namespace of its own (bench/wan/run.sh makes one), as root.
//
//   wan_bench [round trip ms] [rounds]        (default 40 ms, 3 rounds; medians are printed)
//
// Measured, each tool in turn and the order alternating from round to round:
// - 20 files of 4 KiB downloaded: UPLDNL_AS; curl, one process with 20 URLs (one connection); lftp mget;
// - one 50 MB file: UPLDNL_AS with one file; curl; lftp get;
// - a listing of 2,000 entries, logon included: a synchronous session's FtpFindFirstFileA and
//   InternetFindNextFileA, as the client window lists a folder; curl; lftp cls;
// - a folder of 20 files opened in the client window, from the double-click to its rows shown, once the
//   Connect has listed the root (a warm connection), in milliseconds and in round trips.
// From the traces (ours NIMBO_FTP_TRACE, curl -v, lftp -d) it prints the commands and control
// connections per file of the 20-file batch.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client_driver.h"
#include "delay_relay.h"
#include "engine/client_session.h"
#include "ftp_servers.h"
#include "inet/options.h"
#include "inet/wininet.h"
#include "nimbo.h"
#include "process.h"
#include "window_fixture.h"

namespace {

namespace fs = std::filesystem;
namespace ts = testsupport;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kSmallFiles = 20;
constexpr size_t kSmallSize = 4096;
constexpr uint64_t kBigSize = 50'000'000;
constexpr int kListed = 2000;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

std::string small(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "s%02d.bin", i);
  return name;
}

std::string readAll(const fs::path& p) { return ts::readFile(p).value_or(""); }

// Lines that hold `needle` (ours: after a time stamp and connection id), or that start with it.
int countLines(const std::string& text, const std::string& needle, bool atStart = false) {
  int n = 0;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (atStart ? line.rfind(needle, 0) == 0 : line.find(needle) != std::string::npos) ++n;
  return n;
}

struct Figures {
  std::vector<double> seconds;
  int commands = -1, connections = -1;  // from the last round's trace
};

struct Setup {
  std::string host;  // "127.0.0.2:PORT"
  std::string user, password;
  fs::path work;
};

// Runs a tool's command line and times it; -1 when it failed.
double timed(const std::vector<std::string>& argv, const fs::path& errors) {
  const auto start = Clock::now();
  const int status = ts::runCommand({"/bin/sh", "-c",
                                     [&] {
                                       std::string line;
                                       for (const auto& a : argv) line += "'" + a + "' ";
                                       return line + "2>'" + errors.string() + "' >/dev/null";
                                     }()},
                                    {}, 600s);
  const double s = secondsSince(start);
  return status == 0 ? s : -1;
}

std::string lftpScript(const Setup& s, const std::string& body) {
  return "set ftp:prefer-epsv yes; set ftp:ssl-allow no; set net:max-retries 1; set cmd:fail-exit yes; "
         "set xfer:clobber on; open -u " +
         s.user + "," + s.password + " ftp://" + s.host + "; " + body;
}

// ---- ours ----

double oursBatch(const Setup& s, const std::string& remote, const std::string& list, const fs::path& local,
                 const fs::path& trace) {
  inet::closeKeptConnections();  // each run starts cold, as each tool's process does
  ::setenv("NIMBO_FTP_TRACE", trace.c_str(), 1);
  const auto start = Clock::now();
  UPLDNL_AS(s.host.c_str(), s.user.c_str(), s.password.c_str(), remote.c_str(), local.c_str(), list.c_str(),
            1, 1);
  const double t = secondsSince(start);
  ::unsetenv("NIMBO_FTP_TRACE");
  return t;
}

double oursListing(const Setup& s, const fs::path& trace, int& entries) {
  inet::closeKeptConnections();
  ::setenv("NIMBO_FTP_TRACE", trace.c_str(), 1);
  const auto start = Clock::now();
  HINTERNET root = InternetOpenA("wan bench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET conn = InternetConnectA(root, s.host.c_str(), 0, s.user.c_str(), s.password.c_str(),
                                    INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0);
  entries = 0;
  WIN32_FIND_DATAA data{};
  if (HINTERNET find = FtpFindFirstFileA(conn, "/many/*.*", &data, 0, 0)) {
    ++entries;
    while (InternetFindNextFileA(find, &data)) ++entries;
    InternetCloseHandle(find);
  }
  const double t = secondsSince(start);
  InternetCloseHandle(root);
  ::unsetenv("NIMBO_FTP_TRACE");
  return t;
}

// The client window: Connect (which lists the root), then the folder's double-click until its rows show.
struct FolderTiming {
  std::vector<double> ms;
  int commands = -1;
};

void oursFolder(const Setup& s, int rounds, const fs::path& work, FolderTiming& out) {
  using client::testing::Driver;
  client::testing::runClient([&](Driver& d) {
    for (int round = 0; round < rounds; ++round) {
      inet::closeKeptConnections();
      if (engine::bSessionOpen.load() == 0) d.click(client::control::StartSession);
      d.enterText(client::control::ServerName, s.host);
      d.enterText(client::control::UserName, s.user);
      d.enterText(client::control::Password, s.password);
      d.click(client::control::Connect);
      if (!Driver::waitFor([&] { return d.shown(client::control::RemoteTree) == s.host + "\t"; }, 60s))
        return;
      d.settle();
      const fs::path trace = work / ("folder-" + std::to_string(round) + ".trace");
      ::setenv("NIMBO_FTP_TRACE", trace.c_str(), 1);
      const int row = Driver::treeRow("/small");
      const auto start = Clock::now();
      d.clickRow(client::control::RemoteTree, row, ui::key::MouseLeftDouble);
      while (DirectoryList.count() < static_cast<size_t>(kSmallFiles) + 4) std::this_thread::sleep_for(1ms);
      d.settle();
      out.ms.push_back(secondsSince(start) * 1000);
      ::unsetenv("NIMBO_FTP_TRACE");
      out.commands = countLines(readAll(trace), " > ");
      d.click(client::control::Disconnect);
      d.settle();
    }
    d.click(client::control::CloseSession);
    d.settle();
  });
}

void print(const char* what, const char* who, const Figures& f, double base) {
  const double m = median(f.seconds);
  std::printf("  %-34s %-10s %8.3f s", what, who, m);
  if (base > 0) std::printf("   %.2f x curl", m / base);
  if (f.commands >= 0)
    std::printf("   %.1f commands and %.2f connections a file", f.commands / double(kSmallFiles),
                f.connections / double(kSmallFiles));
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  const int rttMs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  if (!ui::start()) {
    std::fprintf(stderr, "no window runtime: %s\n", ui::startError().c_str());
    return 1;
  }
  ui::test::headlessDialogs(true);
  client::testing::addClientWindowDefinitions();
  {
    std::ifstream batchWindow(std::string(NIMBO_WINDOWS_DIR) + "/NIMBO007.json");
    std::stringstream text;
    text << batchWindow.rdbuf();
    ui::addWindowDefinitions(text.str());
  }

  ts::ServerOptions options;
  options.passivePorts = 64;
  auto server = ts::startVsftpd(options);
  if (!server.ok()) {
    std::fprintf(stderr, "vsftpd: %s\n", server.error().c_str());
    return 1;
  }
  std::string list;
  const std::string bytes = ts::randomBytes(kSmallSize, 5);
  for (int i = 0; i < kSmallFiles; ++i) {
    server->put("small/" + small(i), bytes);
    list += (i ? "," : "") + small(i);
  }
  server->makeDirectory("many");
  for (int i = 0; i < kListed; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "many/entry-%04d.txt", i);
    ts::writeFile(server->pathOf(name), "");
  }
  server->put("big.bin", "");
  fs::resize_file(server->pathOf("big.bin"), kBigSize);
  server->handOver();

  std::vector<uint16_t> ports{server->port()};
  for (int p = server->passiveRange().first; p <= server->passiveRange().second; ++p)
    ports.push_back(static_cast<uint16_t>(p));
  wan::DelayRelay relay("127.0.0.2", "127.0.0.1", ports, std::chrono::milliseconds(rttMs) / 2);
  if (!relay.error().empty()) {
    std::fprintf(stderr, "%s (run it in a network namespace of its own: bench/wan/run.sh)\n",
                 relay.error().c_str());
    return 1;
  }
  ts::TempDir work("nimbo-wan-bench");
  Setup s{"127.0.0.2:" + std::to_string(server->port()), server->user(), server->password(), work.path()};
  const std::string url = "ftp://" + s.host;
  const std::string login = s.user + ":" + s.password;

  // curl's config for the 20 files: one process, one connection for them all.
  const fs::path curlConfig = work / "small.curlrc";
  {
    std::ofstream c(curlConfig);
    c << "user = \"" << login << "\"\n";
    for (int i = 0; i < kSmallFiles; ++i)
      c << "url = \"" << url << "/small/" << small(i) << "\"\noutput = \""
        << (work / "curl" / small(i)).string() << "\"\n";
  }
  fs::create_directories(work / "curl");
  fs::create_directories(work / "lftp");
  fs::create_directories(work / "ours");

  Figures smallOurs, smallCurl, smallLftp, bigOurs, bigCurl, bigLftp, listOurs, listCurl, listLftp;
  int listed = 0;
  for (int round = 0; round < rounds; ++round) {
    const fs::path ourTrace = work / ("ours-small-" + std::to_string(round) + ".trace");
    const fs::path curlLog = work / "curl-small.log", lftpLog = work / "lftp-small.log";
    std::vector<std::function<void()>> turns = {
        [&] {
          smallOurs.seconds.push_back(oursBatch(s, "/small", list, work / "ours", ourTrace));
          const std::string t = readAll(ourTrace);
          smallOurs.commands = countLines(t, " > ");
          smallOurs.connections = countLines(t, "= connected to ");
        },
        [&] {
          smallCurl.seconds.push_back(
              timed({"curl", "-v", "-s", "-S", "--ftp-pasv", "-K", curlConfig}, curlLog));
          const std::string t = readAll(curlLog);
          smallCurl.commands = countLines(t, "> ", true);
          smallCurl.connections = countLines(t, "< 220", true);
        },
        [&] {
          smallLftp.seconds.push_back(
              timed({"lftp", "-d", "-c", lftpScript(s, "mget -O " + (work / "lftp").string() + " /small/*")},
                    lftpLog));
          const std::string t = readAll(lftpLog);
          smallLftp.commands = countLines(t, "---> ", true);
          smallLftp.connections = countLines(t, "<--- 220", true);
        }};
    if (round % 2) std::reverse(turns.begin(), turns.end());
    for (auto& t : turns) t();

    std::vector<std::function<void()>> big = {
        [&] {
          bigOurs.seconds.push_back(oursBatch(s, "/", "big.bin", work / "ours", work / "ours-big.trace"));
        },
        [&] {
          bigCurl.seconds.push_back(timed({"curl", "-s", "-S", "--ftp-pasv", "-u", login, "-o",
                                           (work / "curl" / "big.bin").string(), url + "/big.bin"},
                                          work / "curl-big.log"));
        },
        [&] {
          bigLftp.seconds.push_back(
              timed({"lftp", "-c", lftpScript(s, "get /big.bin -o " + (work / "lftp" / "big.bin").string())},
                    work / "lftp-big.log"));
        }};
    if (round % 2) std::reverse(big.begin(), big.end());
    for (auto& t : big) t();

    std::vector<std::function<void()>> listing = {
        [&] { listOurs.seconds.push_back(oursListing(s, work / "ours-list.trace", listed)); },
        [&] {
          listCurl.seconds.push_back(
              timed({"curl", "-s", "-S", "--ftp-pasv", "-u", login, url + "/many/"}, work / "curl-list.log"));
        },
        [&] {
          listLftp.seconds.push_back(
              timed({"lftp", "-c", lftpScript(s, "cls /many/")}, work / "lftp-list.log"));
        }};
    if (round % 2) std::reverse(listing.begin(), listing.end());
    for (auto& t : listing) t();
    std::printf(
        "round %d: 20 files %.2f / %.2f / %.2f s, 50 MB %.2f / %.2f / %.2f s, listing %.3f / %.3f / %.3f s "
        "(ours / curl / lftp)\n",
        round + 1, smallOurs.seconds.back(), smallCurl.seconds.back(), smallLftp.seconds.back(),
        bigOurs.seconds.back(), bigCurl.seconds.back(), bigLftp.seconds.back(), listOurs.seconds.back(),
        listCurl.seconds.back(), listLftp.seconds.back());
    std::fflush(stdout);
  }
  for (int i = 0; i < kSmallFiles; ++i)
    if (readAll(work / "ours" / small(i)) != bytes || readAll(work / "curl" / small(i)) != bytes ||
        readAll(work / "lftp" / small(i)) != bytes)
      std::printf("warning: %s did not arrive intact everywhere\n", small(i).c_str());
  if (fs::file_size(work / "ours" / "big.bin") != kBigSize) std::printf("warning: our 50 MB file is short\n");
  if (listed != kListed) std::printf("warning: our listing had %d entries, not %d\n", listed, kListed);

  FolderTiming folder;
  oursFolder(s, rounds, work.path(), folder);

  const double smallBase = median(smallCurl.seconds);
  std::printf(
      "\nvsftpd behind a relay holding each byte %d ms each way (round trip %d ms), medians of %d rounds\n",
      rttMs / 2, rttMs, rounds);
  print("20 files of 4 KiB", "UPLDNL_AS", smallOurs, smallBase);
  print("", "curl", smallCurl, smallBase);
  print("", "lftp mget", smallLftp, smallBase);
  std::printf("  %-34s UPLDNL_AS %.2f x lftp\n", "", median(smallOurs.seconds) / median(smallLftp.seconds));
  const double bigBase = median(bigCurl.seconds);
  print("one 50 MB file", "UPLDNL_AS", bigOurs, bigBase);
  print("", "curl", bigCurl, bigBase);
  print("", "lftp get", bigLftp, bigBase);
  const double listBase = median(listCurl.seconds);
  print("2,000-entry listing, logon included", "ours", listOurs, listBase);
  print("", "curl", listCurl, listBase);
  print("", "lftp cls", listLftp, listBase);
  // NIMBO_WAN_TRACES=<folder> keeps the traces and the tools' logs for a closer look.
  if (const char* keep = std::getenv("NIMBO_WAN_TRACES")) {
    std::error_code ec;
    fs::create_directories(keep, ec);
    for (const auto& e : fs::directory_iterator(work.path()))
      if (e.is_regular_file())
        fs::copy_file(e.path(), fs::path(keep) / e.path().filename(), fs::copy_options::overwrite_existing,
                      ec);
  }
  const double folderMs = median(folder.ms);
  std::printf("  %-34s client    %8.1f ms   %.1f round trips, %d commands\n",
              "folder opened, warm connection", folderMs, folderMs / rttMs, folder.commands);
  return 0;
}
