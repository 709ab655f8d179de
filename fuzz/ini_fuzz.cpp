// INI files: any file, then one entry written. A write that succeeds reads back as written, and
// every other entry of the file reads back as it did before: a write changes only its entry.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ui/runtime.h"

namespace {

void require(bool condition, const char* what, const std::string& detail = {}) {
  if (!condition) {
    std::fprintf(stderr, "contract broken: %s\n%s\n", what, detail.c_str());
    std::abort();
  }
}

// In memory when the machine has a tmpfs: every write syncs the file, as it must.
const std::string& file() {
  static const std::string* path = [] {
    std::string pattern = std::filesystem::is_directory("/dev/shm") ? "/dev/shm/nimbo-fuzz-ini-XXXXXX"
                                                                    : "/tmp/nimbo-fuzz-ini-XXXXXX";
    if (!::mkdtemp(pattern.data())) std::abort();
    std::atexit([] { std::filesystem::remove_all(std::filesystem::path(file()).parent_path()); });
    return new std::string(pattern + "/fuzz.ini");
  }();
  return *path;
}

std::string trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return std::string(s);
}

std::string folded(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// Every (section, entry) a reader might find in the text, by a rough reading of its lines: the pairs
// to look at before and after the write. (Pairs that name nothing read as the default both times.)
std::set<std::pair<std::string, std::string>> namesIn(const std::string& text) {
  std::set<std::pair<std::string, std::string>> out;
  std::string section;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string line = trimmed(std::string_view(text).substr(start, end - start));
    if (!line.empty() && line.front() == '[') {
      section = trimmed(std::string_view(line).substr(1, line.find(']') - 1));
    } else if (const size_t eq = line.find('='); eq != std::string::npos) {
      out.emplace(section, trimmed(std::string_view(line).substr(0, eq)));
    }
    start = end + 1;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string section = in.ConsumeRandomLengthString(64);
  const std::string entry = in.ConsumeRandomLengthString(64);
  const std::string value = in.ConsumeRandomLengthString(256);
  const std::string before = in.ConsumeRemainingBytesAsString();
  {
    std::FILE* f = std::fopen(file().c_str(), "wb");
    if (!f) std::abort();
    std::fwrite(before.data(), 1, before.size(), f);
    std::fclose(f);
  }
  constexpr const char* kMissing = "\x01missing\x01";
  const auto names = namesIn(before);
  std::vector<std::string> read;
  for (const auto& [s, e] : names) read.push_back(ui::iniGet(s, e, kMissing, file()));

  const bool written = ui::iniPut(section, entry, value, file());
  if (written)
    require(ui::iniGet(section, entry, kMissing, file()) == value, "a written value reads back", value);
  size_t i = 0;
  for (const auto& [s, e] : names) {
    const std::string was = read[i++];
    if (written && folded(trimmed(s)) == folded(trimmed(section)) &&
        folded(trimmed(e)) == folded(trimmed(entry)))
      continue;
    require(ui::iniGet(s, e, kMissing, file()) == was, "another entry reads as before",
            "[" + s + "] " + e + " was \"" + was + "\"");
  }
  return 0;
}
