#include "client/certificate_question.h"

#include <algorithm>
#include <deque>
#include <mutex>
#include <string_view>
#include <utility>

#include "ui/text.h"

namespace client {

namespace {

// Long enough for an ordinary subject or issuer, short enough for the box to stay readable.
constexpr std::size_t kFieldLimit = 100;
// The fingerprint's first 16 pairs, shown on a line of their own.
constexpr std::size_t kFingerprintHalf = 47;

// A text from the certificate as part of one line of the box. A "|" would start a line of its own, one
// that could pass for another field, so it shows as a broken bar; control characters show as "?". A
// text too long is cut at the start of a character.
std::string field(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '|')
      out += "\xC2\xA6";
    else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      out += '?';
    else
      out += c;
  }
  if (out.size() <= kFieldLimit) return out;
  out.resize(ui::utf8Fit(out, kFieldLimit).size());
  return out + "...";
}

std::string hostAndPort(const inet::CertificateFacts& facts) {
  const bool v6 = facts.host.find(':') != std::string::npos && facts.host.front() != '[';
  return ui::cat(v6 ? "[" : "", field(facts.host), v6 ? "]" : "", ":", std::to_string(facts.port));
}

inet::TrustDecision askUser(const inet::CertificateFacts& facts) {
  const int pressed = ui::message(trustQuestionText(facts), "FTP Client", ui::IDI_QUESTION,
                                  ui::BUTTON_YES | ui::BUTTON_NO, ui::BUTTON_NO);
  return pressed == ui::BUTTON_YES ? inet::TrustDecision::TrustAndRemember : inet::TrustDecision::Refuse;
}

}  // namespace

std::string trustQuestionText(const inet::CertificateFacts& facts) {
  std::string fingerprint = field(facts.fingerprint);
  if (fingerprint.size() > kFingerprintHalf + 1 && fingerprint[kFingerprintHalf] == ':')
    fingerprint[kFingerprintHalf] = '|';
  const std::string problem = facts.problem.empty() ? "it could not be verified" : field(facts.problem);
  return ui::cat("The certificate of ", hostAndPort(facts), " is not trusted:|", problem,
                 "||Subject: ", field(facts.subject), "|Issuer: ", field(facts.issuer),
                 "|Valid from: ", field(facts.validFrom), "|Valid until: ", field(facts.validUntil),
                 "|SHA-256 fingerprint:|", fingerprint,
                 "||Do you want to trust this certificate and remember it?");
}

struct TrustQuestions::State {
  struct Waiting {
    inet::CertificateFacts facts;
    inet::TrustAnswer answer;
  };

  ui::WindowRef window;
  ui::ThreadNo thread;
  int event;
  std::mutex mutex;
  bool closed = false;
  std::deque<std::shared_ptr<Waiting>> waiting;

  bool isClosed() {
    std::lock_guard lock(mutex);
    return closed;
  }
  // Takes a waiting question out, unless it has been taken already; null when there is none.
  std::shared_ptr<Waiting> take(const Waiting* which = nullptr) {
    std::lock_guard lock(mutex);
    const auto it = which == nullptr ? waiting.begin()
                                     : std::find_if(waiting.begin(), waiting.end(),
                                                    [&](const auto& w) { return w.get() == which; });
    if (it == waiting.end()) return nullptr;
    auto taken = std::move(*it);
    waiting.erase(it);
    return taken;
  }
};

TrustQuestions::TrustQuestions(ui::WindowRef window, ui::ThreadNo thread, int event)
    : state_(std::make_shared<State>()) {
  state_->window = window;
  state_->thread = thread;
  state_->event = event;
}

inet::TrustQuestion TrustQuestions::question() const {
  return [state = state_](const inet::CertificateFacts& facts, inet::TrustAnswer answer) {
    if (ui::currentThread() == state->thread) {
      if (!state->isClosed()) answer(askUser(facts));
      return;
    }
    auto waiting = std::make_shared<State::Waiting>(State::Waiting{facts, std::move(answer)});
    {
      std::lock_guard lock(state->mutex);
      // Unanswered, the answer refuses as it goes.
      if (state->closed) return;
      state->waiting.push_back(waiting);
    }
    // A closed window takes no event: the question is taken back and refused at once.
    if (!ui::post(state->window, state->event)) state->take(waiting.get());
  };
}

void TrustQuestions::askWaiting() const {
  while (const auto next = state_->isClosed() ? nullptr : state_->take()) next->answer(askUser(next->facts));
}

void TrustQuestions::close() const {
  // Destroyed after the lock is let go: each refuses as it goes.
  std::deque<std::shared_ptr<State::Waiting>> dropped;
  std::lock_guard lock(state_->mutex);
  state_->closed = true;
  dropped.swap(state_->waiting);
}

}  // namespace client
