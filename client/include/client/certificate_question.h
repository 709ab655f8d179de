// Certificates the FTP layer could not verify, put to the user of the client window.
//
// The layer asks on a connection's thread and waits there for the answer, while only the window's thread
// may show a box. So a question from another thread is queued and the window told by an event; it returns
// at once. A question on the window's own thread (a listing connects from there) is asked at once with
// the box: the window could not take the event while its thread waits for the answer.
#pragma once

#include <memory>
#include <string>

#include "inet/certificates.h"
#include "ui/runtime.h"

namespace client {

// The box's text: host and port, what verification found, the certificate's subject, issuer, validity
// and fingerprint, and the question. Fields from the certificate are cut to a readable length and
// cannot start lines of their own.
std::string trustQuestionText(const inet::CertificateFacts& facts);

// The questions of one run of the client window.
class TrustQuestions {
 public:
  // For the window `window`, whose loop runs on `thread`.
  TrustQuestions(ui::WindowRef window, ui::ThreadNo thread, int event);

  // The question for the sessions the window opens. Any thread; it may outlive the window.
  inet::TrustQuestion question() const;
  // The window's thread, on the event: each question waiting is put to the user and answered.
  void askWaiting() const;
  // The window's loop has ended: questions still waiting are refused without a box, and so are any
  // that come later.
  void close() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace client
