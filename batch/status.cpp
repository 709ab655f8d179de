#include "batch/status.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "nimbo.h"
#include "ui/runtime.h"

namespace batch {
namespace {

std::mutex traceMutex;
std::FILE* traceFile = nullptr;

// A text as one field of a trace line: a name from the list may hold a tab or a line end.
std::string field(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (static_cast<unsigned char>(c) < 0x20) {
      out += '?';
    } else {
      out += c;
    }
  }
  return out;
}

void traceLine(std::string_view tag, std::string_view text) {
  std::lock_guard lock(traceMutex);
  if (!traceFile) return;
  std::fprintf(traceFile, "%.*s\t%.*s\n", static_cast<int>(tag.size()), tag.data(),
               static_cast<int>(text.size()), text.data());
  std::fflush(traceFile);
}

}  // namespace

void showStatus(int zone, std::string_view text) {
  ui::setStatus(MainWindow.load(), zone, text);
  const char tag[2] = {static_cast<char>('0' + zone), '\0'};
  traceLine(tag, field(text));
}

void traceFailure(std::string_view what) { traceLine("!", field(what)); }

void traceCheck(std::string_view path, int exists, int64_t size) {
  traceLine("?", ui::cat(field(path), "\t", std::to_string(exists), "\t", std::to_string(size)));
}

void traceState(std::string_view change) { traceLine("=", field(change)); }

void traceStep(std::string_view step, std::string_view thread) {
  traceLine("@", ui::cat(field(step), "\t", field(thread)));
}

bool tracing() {
  std::lock_guard lock(traceMutex);
  return traceFile != nullptr;
}

void openTrace() {
  std::lock_guard lock(traceMutex);
  if (traceFile) return;
  const char* path = std::getenv("NIMBO_BATCH_TRACE");
  if (path && *path) traceFile = std::fopen(path, "a");
}

void closeTrace() {
  std::lock_guard lock(traceMutex);
  if (traceFile) std::fclose(traceFile);
  traceFile = nullptr;
}

}  // namespace batch
