#include "logon.h"

#include "kernel/ascii.h"

namespace inet {

Step Greeting::onReply(const Reply& r) {
  if (r.preliminary()) return Step::awaitReply();  // 120: ready in a moment
  if (r.code != 220) return Step::done(Outcome::failure(ERROR_INTERNET_LOGIN_FAILURE, r));
  return Step::done(Outcome::success());
}

Logon::Logon(std::string user, std::string password, Features& features)
    : user_(std::move(user)), password_(std::move(password)), features_(features) {}

Step Logon::start() {
  state_ = State::User;
  return Step::send({"USER", user_, false});
}

Step Logon::afterLogon() {
  state_ = State::Feat;
  return Step::send({"FEAT", "", false});
}

Step Logon::onReply(const Reply& r) {
  switch (state_) {
    case State::User:
      if (r.code == 230) return afterLogon();
      if (r.code == 331) {
        state_ = State::Pass;
        return Step::send({"PASS", password_, true});
      }
      if (r.code == 530) return Step::done(Outcome::failure(ERROR_INTERNET_INCORRECT_USER_NAME, r));
      return Step::done(Outcome::failure(ERROR_INTERNET_LOGIN_FAILURE, r));
    case State::Pass:
      if (r.code == 230 || r.code == 202) return afterLogon();
      if (r.code == 530) return Step::done(Outcome::failure(ERROR_INTERNET_INCORRECT_PASSWORD, r));
      return Step::done(
          Outcome::failure(ERROR_INTERNET_LOGIN_FAILURE, r));  // 332 asks for an account we lack
    case State::Feat:
      // A server without FEAT is an old one, not a broken one.
      if (r.completion()) features_ = parseFeatures(r);
      if (!features_.utf8) return Step::done(Outcome::success());
      state_ = State::Utf8;
      return Step::send({"OPTS", "UTF8 ON", false});
    case State::Utf8:
      return Step::done(Outcome::success());
  }
  return Step::done(Outcome::failure(ERROR_INTERNET_INTERNAL_ERROR));
}

DWORD Logon::droppedError() const {
  return state_ == State::Feat || state_ == State::Utf8 ? ERROR_FTP_DROPPED : ERROR_INTERNET_LOGIN_FAILURE;
}

DWORD Logon::closedError() const {
  return state_ == State::Feat || state_ == State::Utf8 ? ERROR_FTP_DROPPED
                                                        : ERROR_INTERNET_CONNECTION_ABORTED;
}

Features parseFeatures(const Reply& reply) {
  Features f;
  std::string_view text = reply.text;
  size_t first = text.find("\r\n");
  if (first == std::string_view::npos) return f;  // a one-line reply names no feature
  text.remove_prefix(first + 2);
  while (!text.empty()) {
    size_t end = text.find("\r\n");
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 2);
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    std::string word;
    for (char c : line.substr(0, line.find(' '))) word += kernel::asciiUpper(c);
    if (word == "MLST") f.mlst = true;
    if (word == "UTF8") f.utf8 = true;
    if (word == "MDTM") f.mdtm = true;
    if (word == "SIZE") f.size = true;
    if (word == "REST") {
      std::string mode;
      for (char c : line.substr(std::min(line.size(), word.size()))) mode += kernel::asciiUpper(c);
      if (mode.find("STREAM") != std::string::npos) f.rest = true;
    }
  }
  return f;
}

}  // namespace inet
