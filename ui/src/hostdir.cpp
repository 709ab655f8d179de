// Host directories over POSIX, until the platform layer's path translation is linked in: drive C: is
// the root file system, and each component of a Windows path is matched exactly first and without
// regard to case second.
#include "hostdir.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <memory>

namespace ui::detail::hostdir {
namespace {

bool sameFolded(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// Windows wildcards: "*" any run, "?" one character, without regard to case; "*.*" matches every
// name, and a mask ending in ".*" also matches the name without an extension.
bool wildMatch(std::string_view mask, std::string_view name) {
  std::size_t m = 0, n = 0, star = std::string_view::npos, mark = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == '?' || std::tolower(static_cast<unsigned char>(mask[m])) ==
                                                  std::tolower(static_cast<unsigned char>(name[n])))) {
      ++m;
      ++n;
    } else if (m < mask.size() && mask[m] == '*') {
      star = m++;
      mark = n;
    } else if (star != std::string_view::npos) {
      m = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

bool matches(std::string_view mask, std::string_view name) {
  if (mask == "*.*" || mask == "*") return true;
  if (wildMatch(mask, name)) return true;
  if (mask.size() > 2 && mask.substr(mask.size() - 2) == ".*" && name.find('.') == std::string_view::npos)
    return wildMatch(mask.substr(0, mask.size() - 2), name);
  return false;
}

std::string cwd() {
  std::string buf(4096, '\0');
  while (!::getcwd(buf.data(), buf.size())) {
    if (errno != ERANGE) return "/";
    buf.resize(buf.size() * 2);
  }
  buf.resize(std::char_traits<char>::length(buf.c_str()));
  return buf;
}

// The existing entry of dir named like name: exactly, else without regard to case.
std::string resolveComponent(const std::string& dir, const std::string& name) {
  struct stat st {};
  const std::string exact = (dir == "/" ? "" : dir) + "/" + name;
  if (::lstat(exact.c_str(), &st) == 0) return name;
  std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), ::closedir);
  if (!d) return name;
  while (dirent* e = ::readdir(d.get()))
    if (sameFolded(e->d_name, name)) return e->d_name;
  return name;
}

}  // namespace

std::optional<std::string> hostPath(std::string_view windowsPath) {
  if (windowsPath.find('\0') != std::string_view::npos) return std::nullopt;
  std::string_view rest = windowsPath;
  std::string base;
  if (rest.size() >= 2 && rest[1] == ':' && std::isalpha(static_cast<unsigned char>(rest[0]))) {
    if (std::toupper(static_cast<unsigned char>(rest[0])) != 'C') return std::nullopt;
    rest.remove_prefix(2);
    base = "/";
    if (rest.empty() || (rest[0] != '\\' && rest[0] != '/')) base = cwd();  // drive-relative
  } else if (!rest.empty() && (rest[0] == '\\' || rest[0] == '/')) {
    base = "/";
  } else {
    base = cwd();
  }
  std::vector<std::string> parts;
  {
    std::string acc = base == "/" ? "" : base;
    std::size_t pos = 1;
    while (pos <= acc.size()) {
      const std::size_t next = acc.find('/', pos);
      parts.push_back(acc.substr(pos, next == std::string::npos ? std::string::npos : next - pos));
      if (next == std::string::npos) break;
      pos = next + 1;
    }
    if (!parts.empty() && parts.back().empty()) parts.pop_back();
  }
  std::size_t start = 0;
  while (start <= rest.size()) {
    std::size_t next = rest.find_first_of("\\/", start);
    if (next == std::string_view::npos) next = rest.size();
    const std::string_view comp = rest.substr(start, next - start);
    if (comp == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!comp.empty() && comp != ".") {
      std::string dir = "/";
      for (const auto& p : parts) dir += (dir == "/" ? "" : "/") + p;
      parts.push_back(resolveComponent(dir, std::string(comp)));
    }
    start = next + 1;
  }
  std::string out;
  for (const auto& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

std::string currentDirectory() {
  std::string p = cwd();
  if (p == "/") return "C:\\";
  for (char& c : p)
    if (c == '/') c = '\\';
  return "C:" + p;
}

bool changeDirectory(std::string_view path, int& err) {
  const auto host = hostPath(path);
  if (!host) {
    err = ENOENT;
    return false;
  }
  if (::chdir(host->c_str()) != 0) {
    err = errno;
    return false;
  }
  return true;
}

bool find(std::string_view pattern, std::vector<Found>& out, int& err) {
  out.clear();
  const std::size_t sep = pattern.find_last_of("\\/:");
  const std::string_view dirPart =
      sep == std::string_view::npos ? std::string_view() : pattern.substr(0, sep + 1);
  const std::string_view mask = sep == std::string_view::npos ? pattern : pattern.substr(sep + 1);
  const auto dir = hostPath(dirPart.empty() ? std::string_view(".") : dirPart);
  if (!dir) {
    err = ENOENT;
    return false;
  }
  std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir->c_str()), ::closedir);
  if (!d) {
    err = errno;
    return false;
  }
  while (dirent* e = ::readdir(d.get())) {
    const std::string_view name = e->d_name;
    if (name == "." || name == ".." || !matches(mask, name)) continue;
    const std::string full = (*dir == "/" ? "" : *dir) + "/" + std::string(name);
    struct stat st {};
    if (::stat(full.c_str(), &st) != 0 && ::lstat(full.c_str(), &st) != 0) continue;
    Found f;
    f.name = name;
    if (S_ISDIR(st.st_mode)) f.attributes |= 0x10;
    if (name.front() == '.') f.attributes |= 0x02;
    if (::access(full.c_str(), W_OK) != 0) f.attributes |= 0x01;
    if (f.attributes == 0) f.attributes = 0x80;
    f.size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::int64_t>(st.st_size);
    f.modified = static_cast<std::int64_t>(st.st_mtime);
    out.push_back(std::move(f));
  }
  return true;
}

}  // namespace ui::detail::hostdir
