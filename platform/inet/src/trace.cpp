#include "trace.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>
#include <string>

#include "inet/options.h"
#include "kernel/fd.h"

namespace inet {

class TraceFile {
 public:
  explicit TraceFile(kernel::UniqueFd fd) : fd_(std::move(fd)) {}
  // One write per line: with O_APPEND the lines of several connections never mix.
  void write(const std::string& line) {
    [[maybe_unused]] ssize_t n = ::write(fd_.get(), line.data(), line.size());
  }

 private:
  kernel::UniqueFd fd_;
};

namespace {

std::shared_ptr<TraceFile> openTraceFile(const char* path) {
  static auto* mutex = new std::mutex;
  static auto* files = new std::map<std::string, std::shared_ptr<TraceFile>>;
  std::lock_guard lock(*mutex);
  auto it = files->find(path);
  if (it != files->end()) return it->second;
  kernel::UniqueFd fd(::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
  if (!fd.valid()) return nullptr;
  auto file = std::make_shared<TraceFile>(std::move(fd));
  (*files)[path] = file;
  return file;
}

}  // namespace

Trace Trace::forConnection(uint32_t connectionId) {
  Trace t;
  const char* path = std::getenv("NIMBO_FTP_TRACE");
  if (!path || !*path) return t;
  t.file_ = openTraceFile(path);
  t.id_ = connectionId;
  return t;
}

void Trace::line(char direction, std::string_view text) const {
  if (!file_) return;
  timeval now{};
  ::gettimeofday(&now, nullptr);
  tm local{};
  ::localtime_r(&now.tv_sec, &local);
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03ld #%u %c ", local.tm_hour, local.tm_min,
                local.tm_sec, static_cast<long>(now.tv_usec / 1000), id_, direction);
  std::string out(stamp);
  for (char c : text) out += (c == '\0' || c == '\n' || c == '\r') ? ' ' : c;
  out += '\n';
  file_->write(out);
}

void Trace::command(const Command& command) const {
  if (!file_) return;
  std::string text = command.verb;
  if (!command.argument.empty()) text += command.secret ? " ****" : " " + command.argument;
  line('>', text);
}

void Trace::reply(const Reply& reply) const {
  if (!file_) return;
  std::string_view rest = reply.text;
  while (!rest.empty()) {
    size_t end = rest.find("\r\n");
    line('<', rest.substr(0, end));
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 2);
  }
}

void Trace::note(std::string_view text) const { line('=', text); }

void traceNote(std::string_view text) { Trace::forConnection(0).note(text); }

}  // namespace inet
