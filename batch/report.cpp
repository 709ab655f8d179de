#include "batch/report.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "batch/context.h"
#include "batch/status.h"
#include "batch/transferlist.h"
#include "engine/notification.h"
#include "kernel/paths.h"
#include "kernel/winbase.h"
#include "nimbo.h"

namespace batch::report {
namespace {

using Clock = std::chrono::steady_clock;

// A reply is kept to this many bytes: a multi-line reply can run to 64 KiB.
constexpr std::size_t kReplyLimit = 1024;

struct Reply {
  std::uint32_t code = 0;
  std::string text;
};

struct Failure {
  DWORD error = 0;
  Reply reply;
};

struct State {
  std::mutex mutex;
  int fd = -1;
  bool download = false;
  bool checked = false;  // the check before the transfers has run
  std::string password;
  std::vector<bool> written;  // by position; [0] unused
  Clock::time_point batchStart;

  // The entry in flight.
  std::optional<Clock::time_point> fileStart;

  unsigned attemptLimit = 0;  // 0: none
  unsigned failedInARow = 0;
  bool gaveUp = false;
  Failure lastConnectFailure;

  unsigned counts[6] = {};
  std::uint64_t bytes = 0;
};

State& state() {
  static State s;
  return s;
}

constexpr std::string_view kOutcomeNames[] = {
    "done", "missing", "failed-transient", "failed-permanent", "local-error", "stopped"};

// The length of the UTF-8 sequence that starts `s`, or 0 when it is not a well-formed one.
std::size_t sequenceLength(std::string_view s) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const auto follows = [&](std::size_t i, unsigned char low = 0x80, unsigned char high = 0xBF) {
    return i < s.size() && at(i) >= low && at(i) <= high;
  };
  const unsigned char c = at(0);
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return follows(1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    // No overlong forms (E0 below A0) and no surrogates (ED above 9F).
    const bool second = c == 0xE0 ? follows(1, 0xA0) : c == 0xED ? follows(1, 0x80, 0x9F) : follows(1);
    return second && follows(2) ? 3 : 0;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    const bool second = c == 0xF0 ? follows(1, 0x90) : c == 0xF4 ? follows(1, 0x80, 0x8F) : follows(1);
    return second && follows(2) && follows(3) ? 4 : 0;
  }
  return 0;
}

std::string number(std::uint64_t n) { return std::to_string(n); }

// Seconds with three decimals, written without the locale's help: the toolkit takes the user's
// locale at start, and a decimal comma would not be JSON.
std::string seconds(Clock::duration d) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
  char text[32];
  std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(ms / 1000),
                static_cast<long long>(ms % 1000));
  return text;
}

std::string withoutLineEnds(std::string_view text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
    text.remove_suffix(1);
  return std::string(text);
}

std::string masked(std::string text, std::string_view password) {
  if (password.empty()) return text;
  for (std::size_t at = text.find(password); at != std::string::npos; at = text.find(password, at + 4))
    text.replace(at, password.size(), "****");
  return text;
}

// The server's last reply on this thread: the one to the request that has just ended.
Reply lastReply(std::string_view password) {
  Reply reply;
  char buffer[4096] = {};
  DWORD code = 0;
  DWORD room = sizeof buffer;
  InternetGetLastResponseInfoA(&code, buffer, &room);
  buffer[sizeof buffer - 1] = '\0';
  reply.code = code;
  reply.text = std::string(cutText(masked(withoutLineEnds(buffer), password), kReplyLimit));
  return reply;
}

// The FTP layer's own words for an error (for 12003 too, whose reply is reported beside it).
std::string errorText(DWORD error) {
  if (error == 0) return {};
  char buffer[512] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM,
                                 GetModuleHandleA("wininet.dll"), error, 0, buffer, sizeof buffer, nullptr);
  buffer[sizeof buffer - 1] = '\0';
  return n > 0 ? withoutLineEnds(buffer) : std::string();
}

void writeLine(State& s, std::string line) {
  if (s.fd < 0) return;
  line += '\n';
  // One write per line on a file opened for appending: a reader never sees half a line, and lines of
  // two processes sharing a report do not interleave.
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(s.fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      traceFailure(ui::cat("report: ", std::strerror(errno)));
      return;
    }
    done += static_cast<std::size_t>(n);
  }
}

struct Ending {
  Outcome outcome = Outcome::Stopped;
  DWORD error = 0;
  Reply reply;
  std::uint64_t bytes = 0;
  Clock::duration took{};
};

void writeEntry(State& s, std::uint32_t position, const Ending& e) {
  if (position == 0 || position >= s.written.size() || s.written[position]) return;
  s.written[position] = true;
  TransferRecord FTPR;
  TransferList.get(position, FTPR);
  const std::string name(FTPR.FILENAME.view());
  const std::string local = joinPath(BatchLocalDirectory.view(), name);
  const bool known = s.checked;
  std::string line =
      ui::cat(R"({"type":"file","name":)", jsonString(name), R"(,"direction":)",
              s.download ? R"("download")" : R"("upload")", R"(,"remote":)",
              jsonString(joinPath(BatchRemoteDirectory.view(), name)), R"(,"local":)",
              jsonString(kernel::hostPath(local).value_or(local)), R"(,"exists":)",
              known ? (FTPR.FILEEXISTS ? "true" : "false") : "null", R"(,"size":)",
              known ? number(static_cast<std::uint64_t>(FTPR.SIZE)) : "null", R"(,"bytes":)", number(e.bytes),
              R"(,"resumed_from":)", number(resumedFrom(position)), R"(,"seconds":)", seconds(e.took),
              R"(,"outcome":")", outcomeName(e.outcome), R"(","reply_code":)", number(e.reply.code),
              R"(,"reply":)", jsonString(e.reply.text), R"(,"error":)", number(e.error), R"(,"error_text":)",
              jsonString(errorText(e.error)), "}");
  writeLine(s, std::move(line));
  ++s.counts[static_cast<int>(e.outcome)];
  s.bytes += e.bytes;
}

// The local directory as a host path, ending in its separator as the remote one does.
std::string localDirectory() {
  const std::string windows(BatchLocalDirectory.view());
  std::string directory = kernel::hostPath(windows).value_or(windows);
  if (directory.empty() || directory.back() != '/') directory += '/';
  return directory;
}

// The file in flight's own bytes, as its window counts them.
std::uint64_t fileBytes() { return static_cast<std::uint64_t>(std::max<std::int64_t>(0, BatchBytes.load())); }

void startFile(State& s) { s.fileStart.reset(); }

Clock::duration fileTime(const State& s) {
  return s.fileStart ? Clock::now() - *s.fileStart : Clock::duration{};
}

}  // namespace

std::string_view outcomeName(Outcome outcome) { return kOutcomeNames[static_cast<int>(outcome)]; }

Outcome classify(std::uint32_t error, std::uint32_t replyCode) {
  if (error == ERROR_SUCCESS) return Outcome::Done;
  if (error == ERROR_INTERNET_OPERATION_CANCELLED) return Outcome::Stopped;
  if (error < INTERNET_ERROR_BASE) return Outcome::LocalError;
  if (replyCode >= 400 && replyCode < 500) return Outcome::FailedTransient;
  if (replyCode >= 500 && replyCode < 600) return Outcome::FailedPermanent;
  switch (error) {
    case ERROR_INTERNET_TIMEOUT:
    case ERROR_FTP_DROPPED:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_DISCONNECTED:
    case ERROR_INTERNET_SERVER_UNREACHABLE:
    case ERROR_INTERNET_PROXY_SERVER_UNREACHABLE:
      return Outcome::FailedTransient;
    default:
      return Outcome::FailedPermanent;
  }
}

std::string jsonString(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t length = sequenceLength(text.substr(i));
    if (length == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD for a byte that starts no character
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F ||
               (length == 3 && text.substr(i, 2) == "\xE2\x80" &&
                (text[i + 2] == '\xA8' || text[i + 2] == '\xA9'))) {
      // Other controls, and the two line separators that JavaScript will not take in a string.
      const unsigned code = length == 1 ? c : (text[i + 2] == '\xA8' ? 0x2028 : 0x2029);
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", code);
      out += escaped;
    } else {
      out.append(text.substr(i, length));
    }
    i += length;
  }
  out += '"';
  return out;
}

std::string_view cutText(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t n = limit;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return text.substr(0, n);
}

std::uint64_t resumedFrom(std::uint32_t position) {
  // Only the file in flight can have resumed; its line is written before the next file starts.
  return position == BatchPosition.load() ? BatchResumedFrom.load() : 0;
}

void begin(bool download) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  if (s.fd >= 0) ::close(s.fd);
  s.fd = -1;
  if (const char* path = std::getenv("NIMBO_BATCH_REPORT"); path && *path) {
    s.fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (s.fd < 0) {
      std::fprintf(stderr, "UPLDNL_AS: cannot write the report %s: %s\n", path, std::strerror(errno));
      traceFailure(ui::cat("report ", path, ": ", std::strerror(errno)));
    }
  }
  s.download = download;
  s.checked = !download;  // an upload's local check runs before anything else
  s.password = std::string(BatchPassword.view());
  s.written.assign(BatchCount.load() + 1, false);
  s.batchStart = Clock::now();
  startFile(s);
  s.attemptLimit = 0;
  if (const char* limit = std::getenv("NIMBO_BATCH_CONNECT_ATTEMPTS"); limit && *limit) {
    char* end = nullptr;
    const unsigned long n = std::strtoul(limit, &end, 10);
    if (*end == '\0' && n >= 1 && n <= 1'000'000) s.attemptLimit = static_cast<unsigned>(n);
  }
  s.failedInARow = 0;
  s.gaveUp = false;
  s.lastConnectFailure = {};
  for (unsigned& n : s.counts) n = 0;
  s.bytes = 0;
}

void connecting() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  const int16_t batchState = BatchState.load();
  if (!s.fileStart && (batchState == StateConnectingGet || batchState == StateConnectingPut))
    s.fileStart = Clock::now();
}

void serverChecked(bool lookedUp) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  // Entries a check that could not log on marked as missing are not known to be missing.
  s.checked = lookedUp;
}

void notified(std::uint32_t handle, DWORD status, const void* info, DWORD length, Run::Request kind) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  if (status != INTERNET_STATUS_REQUEST_COMPLETE) return;
  const INTERNET_ASYNC_RESULT result = engine::completionOf(info, length);
  // A completion the batch made up has no reply of its own; this thread's would belong to another.
  const Reply reply = handle != 0 ? lastReply(s.password) : Reply{};
  if (kind == Run::Request::Connect) {
    if (result.dwError != 0) {
      ++s.failedInARow;
      s.lastConnectFailure = {result.dwError, reply};
      return;
    }
    s.failedInARow = 0;
    return;
  }
  if (kind != Run::Request::Transfer) return;
  const std::uint32_t position = BatchPosition.load();
  TransferRecord FTPR;
  const bool found = TransferList.get(position, FTPR) && FTPR.FILEEXISTS;
  Ending e;
  e.error = result.dwError;
  e.outcome = result.dwError == 0   ? Outcome::Done
              : !found && s.checked ? Outcome::Missing
                                    : classify(result.dwError, reply.code);
  e.reply = reply;
  e.bytes = fileBytes();
  e.took = fileTime(s);
  writeEntry(s, position, e);
  startFile(s);
}

bool connectAttemptsLeft() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  if (s.attemptLimit != 0 && s.failedInARow >= s.attemptLimit) s.gaveUp = true;
  return !s.gaveUp;
}

void end() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  // The entry being worked on: the one whose transfer is in flight, else the next, whose connect may
  // be under way.
  const std::uint32_t position = BatchPosition.load();
  const int16_t batchState = BatchState.load();
  const bool transferring = (batchState == StateGetting || batchState == StatePutting) &&
                            position < s.written.size() && !s.written[position];
  const std::uint32_t current = transferring ? position : position + 1;
  for (std::uint32_t p = 1; p < s.written.size(); ++p) {
    if (s.written[p]) continue;
    Ending e;
    if (s.gaveUp) {
      e.error = s.lastConnectFailure.error;
      e.reply = s.lastConnectFailure.reply;
      e.outcome = classify(e.error, e.reply.code);
    } else if (p == current && transferring) {
      e.error = ERROR_INTERNET_OPERATION_CANCELLED;  // End batch closed its connection
      e.bytes = fileBytes();
    }
    if (p == current) e.took = fileTime(s);
    writeEntry(s, p, e);
  }
  std::string line = ui::cat(
      R"({"type":"summary","direction":)", s.download ? R"("download")" : R"("upload")", R"(,"server":)",
      jsonString(ServerName.get().view()), R"(,"user":)", jsonString(BatchUserName.view()),
      R"(,"remote_directory":)", jsonString(BatchRemoteDirectory.view()), R"(,"local_directory":)",
      jsonString(localDirectory()), R"(,"files":)", number(s.written.size() - 1));
  for (int i = 0; i < 6; ++i) line += ui::cat(",\"", kOutcomeNames[i], "\":", number(s.counts[i]));
  line +=
      ui::cat(R"(,"bytes":)", number(s.bytes), R"(,"seconds":)", seconds(Clock::now() - s.batchStart), "}");
  writeLine(s, std::move(line));
  if (s.fd >= 0) ::close(s.fd);
  s.fd = -1;
  s.password.assign(s.password.size(), '\0');
  s.password.clear();
}

}  // namespace batch::report
