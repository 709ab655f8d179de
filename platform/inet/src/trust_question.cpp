#include "trust_question.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <mutex>
#include <optional>
#include <unordered_map>

#include "handles.h"
#include "socket.h"

namespace inet {

struct TrustAnswer::Ballot {
  std::mutex mutex;
  std::optional<TrustDecision> decision;
  kernel::UniqueFd ready{::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)};

  void cast(TrustDecision d) {
    std::lock_guard lock(mutex);
    if (decision) return;
    decision = d;
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(ready.get(), &one, sizeof one);
  }
  std::optional<TrustDecision> result() {
    std::lock_guard lock(mutex);
    return decision;
  }
};

// Shared by every copy of one answer: the last copy to go refuses for a caller who never answered.
struct TrustAnswer::Voter {
  explicit Voter(std::shared_ptr<Ballot> b) : ballot(std::move(b)) {}
  Voter(const Voter&) = delete;
  Voter& operator=(const Voter&) = delete;
  ~Voter() { ballot->cast(TrustDecision::Refuse); }
  const std::shared_ptr<Ballot> ballot;
};

TrustAnswer::TrustAnswer(std::shared_ptr<Ballot> ballot)
    : voter_(std::make_shared<Voter>(std::move(ballot))) {}

void TrustAnswer::operator()(TrustDecision decision) const { voter_->ballot->cast(decision); }

namespace {

struct Questions {
  std::mutex mutex;
  std::unordered_map<uint32_t, std::shared_ptr<const TrustQuestion>> bySession;
};

Questions& questions() {
  static auto* q = new Questions;
  return *q;
}

}  // namespace

std::shared_ptr<const TrustQuestion> trustQuestionOf(uint32_t sessionId) {
  Questions& q = questions();
  std::lock_guard lock(q.mutex);
  auto it = q.bySession.find(sessionId);
  return it == q.bySession.end() ? nullptr : it->second;
}

void forgetTrustQuestion(uint32_t sessionId) {
  Questions& q = questions();
  std::lock_guard lock(q.mutex);
  q.bySession.erase(sessionId);
}

TrustDecision ask(const TrustQuestion& question, const CertificateFacts& facts, const Canceller* cancel) {
  auto ballot = std::make_shared<TrustAnswer::Ballot>();
  if (!ballot->ready.valid()) return TrustDecision::Refuse;
  question(facts, TrustAnswer(ballot));
  // A user may take their time; only a close of the handle ends the wait early.
  const Clock::time_point far = Clock::now() + std::chrono::hours(24 * 365);
  for (;;) {
    if (auto d = ballot->result()) return *d;
    if (waitFor(ballot->ready.get(), POLLIN, far, cancel) != Wait::Ready) return TrustDecision::Refuse;
  }
}

}  // namespace inet

BOOL inet::setTrustQuestion(HINTERNET session, TrustQuestion question) {
  std::shared_ptr<Handle> h;
  {
    HandleTable& table = HandleTable::instance();
    std::lock_guard lock(table.mutex());
    h = table.findLocked(INET_HANDLE_ID(session));
  }
  if (!h) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (h->kind != HandleKind::Root) {
    SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    return FALSE;
  }
  Questions& q = questions();
  {
    std::lock_guard lock(q.mutex);
    if (question)
      q.bySession[h->id()] = std::make_shared<const TrustQuestion>(std::move(question));
    else
      q.bySession.erase(h->id());
  }
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
