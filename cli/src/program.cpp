#include "program.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QString>
#include <QtGlobal>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "arguments.h"
#include "kernel/paths.h"
#include "lines.h"
#include "netrc.h"
#include "nimbo.h"
#include "ui/runtime.h"
#include "ui/termination.h"

namespace cli {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kMoved = 0, kNotMoved = 1, kUsage = 2;
constexpr const char* kProgram = "nimbo-batch";
// Without a bound the batch retries a failed connect until it is stopped: a script would wait on an
// unreachable server for ever.
constexpr const char* kDefaultConnectAttempts = "3";

constexpr const char* kHelp =
    R"(Usage: nimbo-batch [--upload] [--active] [--report FILE] URL LOCAL-DIR NAME[,NAME...]

Downloads the listed files from the server folder URL names into LOCAL-DIR or, with --upload,
uploads them from LOCAL-DIR into that folder: one file after the other, each over a connection
of its own, always in binary.

  URL         ftp://[USER@]HOST[:PORT][/FOLDER]     plain FTP
              ftpes://...  FTP over explicit TLS     ftps://...  implicit TLS (port 990)
              USER and FOLDER may hold %-escapes (%20 a blank, %40 an @); FOLDER is named
              from the server's root, "/" when the URL has none
  LOCAL-DIR   an existing local folder
  NAME,...    the files' names in one argument, separated by commas

Options:
  --upload          upload instead of download
  --active          active mode (the server connects back) instead of passive
  --report FILE     append the per-file report to FILE: a JSON object per file, then a summary
  --help, --version

The password never goes on the command line, where every user of the machine can read it: it
comes from NIMBO_PASSWORD, else from ~/.netrc (or the file NETRC names, readable by you alone):
    machine HOST login USER password SECRET
With no user in the URL nor in that file, the login is anonymous.

A line is printed for each file as it ends (done, missing, failed-transient, failed-permanent,
local-error, stopped), then a summary; on a terminal the transfer's progress is shown as well.
SIGTERM, SIGINT or SIGHUP stop the batch: the files not done are reported as stopped.

Exit status: 0 every file moved; 1 any did not (a refused login, an unknown or unreachable
server included); 2 a usage error.

Environment: NIMBO_PASSWORD, NETRC, NIMBO_BATCH_CONNECT_ATTEMPTS (failed connects in a row
before the batch gives up, 3 unless set), NIMBO_FTP_TIMEOUT_MS, NIMBO_BATCH_TRACE,
NIMBO_FTP_TRACE. See nimbo-batch(1).
)";

int usage(const std::string& message, bool passwordGiven = false) {
  std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
  if (passwordGiven)
    std::fprintf(
        stderr,
        "%s: a password does not go on the command line, where every user of this machine can read "
        "it.\n  Put it in ~/.netrc (chmod 600), as: machine HOST login USER password SECRET\n  or in "
        "the environment variable NIMBO_PASSWORD.\n",
        kProgram);
  else
    std::fprintf(stderr, "Try '%s --help' for more information.\n", kProgram);
  return kUsage;
}

// The toolkit's notes about the window no one sees (no XDG_RUNTIME_DIR under cron, say) would only
// fill a script's mail: only its errors are shown.
void toolkitMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtCriticalMsg || type == QtFatalMsg)
    std::fprintf(stderr, "%s: %s\n", kProgram, message.toLocal8Bit().constData());
}

// ---- Login ----

struct Login {
  std::string user;
  std::string password;
};

std::string homeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return {};
}

// The user and password for the URL, or a usage error.
std::variant<Login, std::string> loginFor(const Url& url) {
  Login login{url.user, {}};
  const char* fromEnvironment = std::getenv("NIMBO_PASSWORD");
  const char* named = std::getenv("NETRC");
  const std::string netrc = named && *named ? named : homeDirectory() + "/.netrc";
  std::optional<NetrcLogin> entry;
  if (std::ifstream in(netrc); in) {
    std::stringstream text;
    text << in.rdbuf();
    entry = netrcLookup(text.str(), url.machine(), url.user);
    if (entry && login.user.empty()) login.user = entry->login;
    if (entry && entry->hasPassword && !fromEnvironment) {
      struct stat st {};
      if (::stat(netrc.c_str(), &st) == 0 && (st.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        return netrc + " holds a password and others may read it: chmod 600 '" + netrc + "'";
    }
  } else if (named && *named) {
    return "cannot read " + netrc + ", the file NETRC names: " + std::strerror(errno);
  }
  if (fromEnvironment)
    login.password = fromEnvironment;
  else if (entry && entry->hasPassword)
    login.password = entry->password;
  else if (!login.user.empty() && login.user != "anonymous" && login.user != "ftp")
    std::fprintf(stderr, "%s: no password for %s at %s in NIMBO_PASSWORD or %s: logging on without one\n",
                 kProgram, printable(login.user).c_str(), url.machine().c_str(), netrc.c_str());
  if (login.user.size() > kUserLimit)
    return "the user name is longer than the " + std::to_string(kUserLimit) + " characters a batch keeps";
  if (login.password.size() > kPasswordLimit)
    return "the password is longer than the " + std::to_string(kPasswordLimit) + " characters a batch keeps";
  return login;
}

// ---- Output ----

// Follows the batch's report as it grows: prints a line for each file the moment its line appears,
// and on a terminal a progress line below them, rewritten in place.
class Follower {
 public:
  Follower(std::string report, off_t from, std::vector<std::string> names, bool terminal)
      : report_(std::move(report)), offset_(from), names_(std::move(names)), terminal_(terminal) {
    thread_ = std::thread([this] { run(); });
  }
  ~Follower() { finish(); }
  Follower(const Follower&) = delete;
  Follower& operator=(const Follower&) = delete;

  // Reads what is left and stops.
  void finish() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
    poll();
    clearProgress();
  }

  const std::optional<SummaryLine>& summary() const { return summary_; }

 private:
  void run() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
      lock.unlock();
      poll();
      if (terminal_) showProgress();
      lock.lock();
      wake_.wait_for(lock, 200ms, [this] { return stop_; });
    }
  }

  void poll() {
    const int fd = ::open(report_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    char chunk[65536];
    for (;;) {
      const ssize_t n = ::pread(fd, chunk, sizeof chunk, offset_ + static_cast<off_t>(pending_.size()));
      if (n <= 0) break;
      pending_.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    // Only whole lines: the batch writes each in one piece, but a read may still meet one half written.
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
      handle(std::string_view(pending_).substr(0, end));
      offset_ += static_cast<off_t>(end + 1);
      pending_.erase(0, end + 1);
    }
  }

  void handle(std::string_view line) {
    const auto parsed = parseReportLine(line);
    if (const auto* file = std::get_if<FileLine>(&parsed)) {
      clearProgress();
      std::printf("%s\n", describe(*file).c_str());
      std::fflush(stdout);
      ++reported_;
    } else if (const auto* summary = std::get_if<SummaryLine>(&parsed)) {
      summary_ = *summary;
    }
  }

  void showProgress() {
    if (reported_ >= names_.size()) return;
    std::string line = "[" + std::to_string(reported_ + 1) + "/" + std::to_string(names_.size()) + "] " +
                       printable(names_[reported_]);
    if (const std::string count = byteCountShown(ui::status(MainWindow.load(), 2)); !count.empty())
      line += "  " + count;
    winsize size{};
    const std::size_t width =
        ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col : 80;
    // One row, so that the carriage return comes back to its start; cut where a character begins.
    if (line.size() >= width) {
      std::size_t n = width - 1;
      while (n > 0 && (static_cast<unsigned char>(line[n]) & 0xC0) == 0x80) --n;
      line.resize(n);
    }
    std::printf("\r\033[K%s", line.c_str());
    std::fflush(stdout);
    progressShown_ = true;
  }

  void clearProgress() {
    if (!progressShown_) return;
    std::printf("\r\033[K");
    std::fflush(stdout);
    progressShown_ = false;
  }

  const std::string report_;
  off_t offset_;
  std::string pending_;
  const std::vector<std::string> names_;
  const bool terminal_;
  std::size_t reported_ = 0;
  bool progressShown_ = false;
  std::optional<SummaryLine> summary_;

  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

// The report the batch appends to: the user's, or a temporary one of ours removed at the end.
struct ReportFile {
  std::string path;
  off_t start = 0;
  bool temporary = false;
  ~ReportFile() {
    if (temporary) ::unlink(path.c_str());
  }
};

}  // namespace

int runProgram(int argc, char** argv) {
  // The batch's window needs no display: this program shows none.
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // A reader that goes away (`nimbo-batch ... | head -1`) must not end the batch half way, leaving
  // its report without the rest.
  ::signal(SIGPIPE, SIG_IGN);
  wipePasswords(argc, argv);

  const auto parsed = parseArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (const auto* error = std::get_if<UsageError>(&parsed))
    return usage(error->message, error->passwordGiven);
  const Options& o = std::get<Options>(parsed);
  if (o.help) {
    std::fputs(kHelp, stdout);
    return kMoved;
  }
  if (o.version) {
    std::printf("%s %s\n", kProgram, NIMBO_VERSION);
    return kMoved;
  }
  const auto url = parseUrl(o.url);
  if (const auto* error = std::get_if<UrlError>(&url)) return usage(error->message, error->passwordGiven);
  const Url& server = std::get<Url>(url);
  const auto names = splitNames(o.names);
  if (const auto* error = std::get_if<std::string>(&names)) return usage(*error);

  std::error_code ec;
  if (!fs::is_directory(o.localDirectory, ec))
    return usage("the local folder '" + o.localDirectory + "' " +
                 (fs::exists(o.localDirectory, ec) ? "is not a folder" : "does not exist"));
  // The batch takes Windows paths; a host path without its drive would be taken on the current
  // directory's drive, which need not be the folder's.
  const std::string local =
      kernel::windowsPath(fs::absolute(o.localDirectory, ec).lexically_normal().string());
  if (server.serverName().size() > kServerLimit)
    return usage("the server's name and port are longer than the " + std::to_string(kServerLimit) +
                 " characters a batch keeps");
  // The batch closes each folder with its separator where it has none.
  auto kept = [](std::string_view folder, char separator) {
    return folder.size() + (folder.ends_with(separator) ? 0 : 1) <= kDirectoryLimit;
  };
  if (!kept(local, '\\') || !kept(server.directory, '/'))
    return usage("a folder is longer than the " + std::to_string(kDirectoryLimit) +
                 " characters a batch keeps");

  const auto login = loginFor(server);
  if (const auto* error = std::get_if<std::string>(&login)) return usage(*error);

  ReportFile report;
  const char* inherited = std::getenv("NIMBO_BATCH_REPORT");
  if (!o.report.empty() || (inherited && *inherited)) {
    report.path = fs::absolute(o.report.empty() ? inherited : o.report.c_str(), ec).string();
    const int fd = ::open(report.path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) return usage("cannot write the report '" + report.path + "': " + std::strerror(errno));
    report.start = ::lseek(fd, 0, SEEK_END);
    ::close(fd);
  } else {
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/nimbo-batch-XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd < 0) {
      std::fprintf(stderr, "%s: cannot make a temporary file in %s: %s\n", kProgram,
                   tmp && *tmp ? tmp : "/tmp", std::strerror(errno));
      return kNotMoved;
    }
    ::close(fd);
    report.path = path;
    report.temporary = true;
  }
  ::setenv("NIMBO_BATCH_REPORT", report.path.c_str(), 1);
  ::setenv("NIMBO_BATCH_CONNECT_ATTEMPTS", kDefaultConnectAttempts, 0);

  qInstallMessageHandler(toolkitMessage);
  if (!ui::start()) {
    std::fprintf(stderr, "%s: %s\n", kProgram, ui::startError().c_str());
    return kNotMoved;
  }
  const Login& credentials = std::get<Login>(login);
  std::optional<SummaryLine> summary;
  {
    ui::TerminationWatch watch(ui::currentThread());
    Follower follower(report.path, report.start, std::get<std::vector<std::string>>(names),
                      ::isatty(STDOUT_FILENO) == 1);
    if (!watch.signalled())
      UPLDNL_AS(server.serverName().c_str(), credentials.user.c_str(), credentials.password.c_str(),
                server.directory.c_str(), local.c_str(), o.names.c_str(), o.active ? 0 : 1, o.upload ? 0 : 1);
    follower.finish();
    summary = follower.summary();
  }
  if (!summary) {
    std::fprintf(stderr, "%s: the batch left no summary in %s\n", kProgram, report.path.c_str());
    return kNotMoved;
  }
  std::printf("%s\n", describe(*summary).c_str());
  std::fflush(stdout);
  return summary->files > 0 && summary->done == summary->files ? kMoved : kNotMoved;
}

}  // namespace cli
