// The trust questions of the sessions, and the wait of a connect for its answer.
#pragma once

#include <cstdint>
#include <memory>

#include "cancel.h"
#include "inet/certificates.h"

namespace inet {

// The question a root handle has now, or null when it asks nothing.
std::shared_ptr<const TrustQuestion> trustQuestionOf(uint32_t sessionId);
// The session is gone: its question with it.
void forgetTrustQuestion(uint32_t sessionId);

// Asks and waits until the answer comes or the request is cancelled (then Refuse).
TrustDecision ask(const TrustQuestion& question, const CertificateFacts& facts, const Canceller* cancel);

}  // namespace inet
