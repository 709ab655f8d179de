#include "trust_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>

#include "kernel/ascii.h"
#include "kernel/fd.h"
#include "kernel/replace.h"

namespace fs = std::filesystem;

namespace inet {
namespace {

std::mutex& settingsMutex() {
  static auto* m = new std::mutex;
  return *m;
}
fs::path& chosenFile() {
  static auto* f = new fs::path;
  return *f;
}

fs::path configFolder() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') return xdg;
  if (const char* home = std::getenv("HOME"); home && *home) return fs::path(home) / ".config";
  passwd pw{};
  passwd* found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(::getuid(), &pw, buffer, sizeof buffer, &found) == 0 && found && pw.pw_dir)
    return fs::path(pw.pw_dir) / ".config";
  return fs::path("/tmp");
}

std::optional<std::string> readAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool holds(std::string_view text, std::string_view host, std::string_view fingerprint) {
  const std::string wantedHost = kernel::asciiLowered(host);
  std::istringstream lines{std::string(text)};
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string h, f;
    if (!(words >> h >> f) || h[0] == '#') continue;
    if (kernel::asciiLowered(h) == wantedHost && f == fingerprint) return true;
  }
  return false;
}

// A host name goes into the file as one word: anything that could break a line or a word is refused.
bool writableHost(std::string_view host) {
  if (host.empty() || host[0] == '#') return false;
  for (char c : host)
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f) return false;
  return true;
}

std::string oneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r' || c == '\0') c = ' ';
  return text;
}

Outcome fileError(int err) { return Outcome::failure(err == ENOSPC ? ERROR_DISK_FULL : ERROR_ACCESS_DENIED); }

}  // namespace

TrustStore TrustStore::current() {
  {
    std::lock_guard lock(settingsMutex());
    if (!chosenFile().empty()) return TrustStore(chosenFile());
  }
  return TrustStore(configFolder() / "nimbo" / "trusted-certificates");
}

bool TrustStore::trusts(std::string_view host, std::string_view fingerprint) const {
  if (fingerprint.empty()) return false;
  auto text = readAll(file_);
  return text && holds(*text, host, fingerprint);
}

Outcome TrustStore::remember(const CertificateFacts& facts) const {
  if (!writableHost(facts.host) || facts.fingerprint.empty())
    return Outcome::failure(ERROR_INVALID_PARAMETER);
  const fs::path folder = file_.parent_path();
  std::error_code ec;
  if (!folder.empty() && !fs::exists(folder, ec)) {
    fs::create_directories(folder, ec);
    if (ec) return fileError(ec.value());
    ::chmod(folder.c_str(), 0700);
  }
  // Writers take turns: each one reads what the last one wrote, so no entry is lost.
  const fs::path lockPath = file_.string() + ".lock";
  kernel::UniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!lock.valid()) return fileError(errno);
  while (::flock(lock.get(), LOCK_EX) != 0)
    if (errno != EINTR) return fileError(errno);

  std::string text = readAll(file_).value_or(
      "# Server certificates this user chose to trust: host, SHA-256 fingerprint, what the certificate "
      "names.\n");
  if (holds(text, facts.host, facts.fingerprint)) return Outcome::success();
  if (!text.empty() && text.back() != '\n') text += '\n';
  text += facts.host + " " + facts.fingerprint + " # " + oneLine(facts.subject) + ", valid until " +
          oneLine(facts.validUntil) + "\n";

  if (const int err = kernel::replaceFile(file_.string(), text, 0600); err != 0) return fileError(err);
  return Outcome::success();
}

std::filesystem::path trustFile() { return TrustStore::current().file(); }

void setTrustFile(std::filesystem::path file) {
  std::lock_guard lock(settingsMutex());
  chosenFile() = std::move(file);
}

}  // namespace inet
