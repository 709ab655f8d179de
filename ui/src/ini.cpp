// INI files with the Windows profile semantics: sections and entries matched without regard to case,
// the default for anything missing, and writes that change one line and keep every other byte.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "hostdir.h"
#include "kernel/ascii.h"
#include "kernel/replace.h"
#include "ui/runtime.h"

namespace ui {
namespace {

// One writer at a time in this process, so that two threads writing entries lose neither.
std::mutex gWriteMutex;

struct Line {
  std::string text;  // without its ending
  std::string end;   // "\n", "\r\n", "\r" or "" for a last line without one
};

std::string_view trimBlanks(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

bool sameName(std::string_view a, std::string_view b) { return kernel::equalIgnoringAsciiCase(a, b); }

// The name of a section header line, or nothing.
std::optional<std::string_view> sectionOf(std::string_view line) {
  std::string_view t = trimBlanks(line);
  if (t.empty() || t.front() != '[') return std::nullopt;
  const std::size_t close = t.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return trimBlanks(t.substr(1, close - 1));
}

// The entry name of an entry line, or nothing (comments, blank lines, junk).
std::optional<std::string_view> entryOf(std::string_view line) {
  std::string_view t = trimBlanks(line);
  if (t.empty() || t.front() == ';' || t.front() == '[') return std::nullopt;
  const std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return trimBlanks(line.substr(0, eq));
}

std::string valueOf(std::string_view line) {
  std::string_view v = trimBlanks(line.substr(line.find('=') + 1));
  if (v.size() >= 2 && v.front() == v.back() && (v.front() == '"' || v.front() == '\''))
    v = v.substr(1, v.size() - 2);
  return std::string(v);
}

// Readers strip blanks around a value and one pair of quotes; quote what would lose either.
std::string encodeValue(std::string_view v) {
  if (v.empty()) return {};
  const bool blankEdge = v.front() == ' ' || v.front() == '\t' || v.back() == ' ' || v.back() == '\t';
  const bool quoted = v.size() >= 2 && v.front() == v.back() && (v.front() == '"' || v.front() == '\'');
  if (blankEdge || quoted) return "\"" + std::string(v) + "\"";
  return std::string(v);
}

bool readLines(const std::string& path, std::vector<Line>& lines, int& err) {
  lines.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    err = errno;
    return false;
  }
  std::string data;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    data.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  // A line ends in LF, CR LF or a lone CR. Reading and rewriting split the file the same way, so a
  // write changes only the line it writes.
  std::size_t start = 0;
  while (start < data.size()) {
    const std::size_t brk = data.find_first_of("\r\n", start);
    if (brk == std::string::npos) {
      lines.push_back({data.substr(start), ""});
      break;
    }
    const std::size_t endLength = data.compare(brk, 2, "\r\n") == 0 ? 2 : 1;
    lines.push_back({data.substr(start, brk - start), data.substr(brk, endLength)});
    start = brk + endLength;
  }
  return true;
}

std::string configDirectory() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  std::string h = home && *home ? home : "";
  if (h.empty()) {
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) h = pw->pw_dir;
  }
  if (h.empty()) h = "/tmp";
  return h + "/.config";
}

bool isBareName(std::string_view file) {
  return file.find('/') == std::string_view::npos && file.find('\\') == std::string_view::npos &&
         !(file.size() >= 2 && file[1] == ':');
}

bool makeDirectories(const std::string& dir) {
  std::string partial;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    partial = dir.substr(0, pos);
    if (partial.empty()) continue;
    if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

void fileSystemError(int err) {
  setError(ERROR_FILE_SYSTEM, "File System Error", std::to_string(err), std::strerror(err));
}

// The whole file replaced in one step: a crash or a full disk leaves the old file as it was.
bool writeAtomically(const std::string& path, const std::vector<Line>& lines, int& err) {
  std::string target = path;
  if (char* real = ::realpath(path.c_str(), nullptr)) {  // write through a link, not over it
    target = real;
    std::free(real);
  }
  mode_t mode = 0644;
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;
  std::string data;
  for (const Line& l : lines) data += l.text + l.end;
  err = kernel::replaceFile(target, data, mode);
  return err == 0;
}

bool hasBreak(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

std::string iniPath(std::string_view file) {
  if (isBareName(file)) return configDirectory() + "/" + std::string(file);
  if (file.front() == '/' && file.find('\\') == std::string_view::npos) return std::string(file);
  if (auto host = detail::hostdir::hostPath(file)) return *host;
  std::string p(file);
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}

std::string iniGet(std::string_view section, std::string_view entry, std::string_view defaultValue,
                   std::string_view file) {
  std::vector<Line> lines;
  int err = 0;
  if (file.empty() || entry.empty() || !readLines(iniPath(file), lines, err))
    return std::string(defaultValue);
  bool inSection = false;
  for (const Line& l : lines) {
    if (auto s = sectionOf(l.text)) {
      if (inSection) break;  // only the first section of that name counts
      inSection = sameName(*s, trimBlanks(section));
      continue;
    }
    if (!inSection) continue;
    if (auto e = entryOf(l.text); e && sameName(*e, trimBlanks(entry))) return valueOf(l.text);
  }
  return std::string(defaultValue);
}

bool iniPut(std::string_view section, std::string_view entry, std::string_view value, std::string_view file) {
  section = trimBlanks(section);
  entry = trimBlanks(entry);
  // A line break or a bracket in a name would write a line that reads back as something else.
  if (file.empty() || section.empty() || entry.empty() || hasBreak(section) || hasBreak(entry) ||
      hasBreak(value) || section.find(']') != std::string_view::npos ||
      entry.find('=') != std::string_view::npos || entry.front() == '[' || entry.front() == ';') {
    setError(ERROR_FILE_SYSTEM, "Invalid entry", std::to_string(EINVAL), std::strerror(EINVAL));
    return false;
  }
  const std::string path = iniPath(file);
  std::lock_guard lock(gWriteMutex);
  if (isBareName(file) && !makeDirectories(configDirectory())) {
    fileSystemError(errno);
    return false;
  }
  std::vector<Line> lines;
  int err = 0;
  if (!readLines(path, lines, err) && err != ENOENT) {
    fileSystemError(err);
    return false;
  }
  std::string ending = "\n";
  for (const Line& l : lines)
    if (!l.end.empty()) {
      ending = l.end;
      break;
    }
  const std::string newLine = std::string(entry) + "=" + encodeValue(value);

  std::size_t header = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (auto s = sectionOf(lines[i].text); s && sameName(*s, section)) {
      header = i;
      break;
    }
  auto insertAt = [&](std::size_t pos, std::string text) {
    // The line before an insertion needs an ending of its own.
    if (pos > 0 && lines[pos - 1].end.empty()) lines[pos - 1].end = ending;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(pos), Line{std::move(text), ending});
  };
  if (header == lines.size()) {
    insertAt(lines.size(), "[" + std::string(section) + "]");
    insertAt(lines.size(), newLine);
  } else {
    std::size_t end = header + 1;
    while (end < lines.size() && !sectionOf(lines[end].text)) ++end;
    std::size_t found = end, lastContent = header;
    for (std::size_t i = header + 1; i < end; ++i) {
      if (!trimBlanks(lines[i].text).empty()) lastContent = i;
      if (auto e = entryOf(lines[i].text); e && sameName(*e, entry)) {
        found = i;
        break;
      }
    }
    if (found != end) {
      // Keep the entry's name as the file spells it.
      const std::string& old = lines[found].text;
      lines[found].text = old.substr(0, old.find('=')) + "=" + encodeValue(value);
    } else {
      insertAt(lastContent + 1, newLine);
    }
  }
  if (!writeAtomically(path, lines, err)) {
    fileSystemError(err);
    return false;
  }
  return true;
}

}  // namespace ui
