#include "netrc.h"

#include <cctype>
#include <vector>

namespace cli {
namespace {

bool sameHost(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

class Tokens {
 public:
  explicit Tokens(std::string_view text) : text_(text) {}

  std::optional<std::string> next() {
    for (;;) {
      while (at_ < text_.size() && isSpace(text_[at_])) ++at_;
      if (at_ >= text_.size()) return std::nullopt;
      if (text_[at_] != '#') break;
      while (at_ < text_.size() && text_[at_] != '\n') ++at_;
    }
    std::string token;
    if (text_[at_] == '"') {
      for (++at_; at_ < text_.size() && text_[at_] != '"'; ++at_) {
        if (text_[at_] == '\\' && at_ + 1 < text_.size()) ++at_;
        token += text_[at_];
      }
      if (at_ < text_.size()) ++at_;  // the closing quote
      return token;
    }
    while (at_ < text_.size() && !isSpace(text_[at_])) token += text_[at_++];
    return token;
  }

  // A macro's body: everything up to the next empty line.
  void skipMacro() {
    while (at_ < text_.size() && text_[at_] != '\n') ++at_;  // the rest of the macdef line
    while (at_ < text_.size()) {
      const std::size_t end = text_.find('\n', at_ + 1);
      const std::size_t next = end == std::string_view::npos ? text_.size() : end;
      const std::string_view line = text_.substr(at_ + 1, next - at_ - 1);
      at_ = next;
      if (line.empty() || line == "\r") return;
    }
  }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
};

struct Entry {
  bool isDefault = false;
  std::string machine;
  NetrcLogin login;
};

}  // namespace

std::optional<NetrcLogin> netrcLookup(std::string_view text, std::string_view machine,
                                      std::string_view user) {
  std::vector<Entry> entries;
  Tokens tokens(text);
  while (auto token = tokens.next()) {
    if (*token == "machine") {
      entries.push_back({false, tokens.next().value_or(""), {}});
    } else if (*token == "default") {
      entries.push_back({true, "", {}});
    } else if (*token == "macdef") {
      tokens.next();
      tokens.skipMacro();
    } else if (entries.empty()) {
      continue;  // a value before any machine: nothing it could belong to
    } else if (*token == "login") {
      entries.back().login.login = tokens.next().value_or("");
    } else if (*token == "password") {
      entries.back().login.password = tokens.next().value_or("");
      entries.back().login.hasPassword = true;
    } else if (*token == "account" || *token == "port") {
      tokens.next();
    }
  }
  const auto fits = [&](const Entry& e) { return user.empty() || e.login.login == user; };
  for (const Entry& e : entries)
    if (!e.isDefault && sameHost(e.machine, machine) && fits(e)) return e.login;
  for (const Entry& e : entries)
    if (e.isDefault && fits(e)) return e.login;
  return std::nullopt;
}

}  // namespace cli
