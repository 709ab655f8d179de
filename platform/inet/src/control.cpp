#include "control.h"

#include <algorithm>

#include "inet/wininet.h"

namespace inet {
namespace {
const Notifier kSilent;
}

ControlChannel::ControlChannel(std::unique_ptr<Transport> transport, Trace trace, const Timeouts& timeouts)
    : transport_(std::move(transport)), trace_(std::move(trace)), timeouts_(timeouts), notifier_(&kSilent) {}

void ControlChannel::bind(const Notifier* notifier, const Canceller* cancel) {
  notifier_ = notifier ? notifier : &kSilent;
  cancel_ = cancel;
}

Outcome ControlChannel::broken(DWORD error) {
  healthy_ = false;
  return Outcome::failure(error);
}

Outcome ControlChannel::fill(Clock::time_point deadline) {
  char chunk[4096];
  for (;;) {
    Io io = transport_->read(chunk, sizeof chunk);
    switch (io.status) {
      case Io::Status::Moved:
        reader_.feed(chunk, io.bytes);
        return Outcome::success();
      case Io::Status::End:
        trace_.note("the server closed the control connection");
        return broken(ERROR_INTERNET_CONNECTION_ABORTED);
      case Io::Status::Again:
        break;
      default:
        return broken(io.error);
    }
    Wait w = waitFor(*transport_, io.events, deadline, cancel_);
    if (w == Wait::Ready) continue;
    // A cancelled wait leaves the connection sound: the reply will still come, and whoever uses the
    // connection next must not take it for theirs.
    if (w == Wait::Cancelled) return waitOutcome(w);
    if (w == Wait::TimedOut) trace_.note("no reply in time");
    return broken(waitOutcome(w).error);
  }
}

Outcome ControlChannel::next(Reply& out, Clock::time_point deadline) {
  for (;;) {
    switch (reader_.next(out)) {
      case ReplyReader::State::Ready:
        if (out.code >= 200 && outstanding_ > 0) --outstanding_;
        last_ = out;
        trace_.reply(out);
        return Outcome::success();
      case ReplyReader::State::Malformed: {
        trace_.note("malformed reply: " + reader_.problem());
        Reply why;
        why.text = "Malformed reply from the server: " + reader_.problem();
        last_ = why;
        healthy_ = false;
        return Outcome::failure(ERROR_FTP_DROPPED, why);
      }
      case ReplyReader::State::Incomplete:
        if (Outcome o = fill(deadline); !o.ok()) return o;
        break;
    }
  }
}

Outcome ControlChannel::unasked() {
  // Nothing is owed, so anything the server has sent is a reply to no command (a second answer to
  // TYPE, say). Every reply after it would be taken for the one before: the dialogue is lost. A
  // connection that has ended is left for the command's own reply to find out.
  (void)takeAvailable();
  Reply reply;
  if (!reader_.peek() || reader_.next(reply) != ReplyReader::State::Ready) return Outcome::success();
  last_ = reply;
  trace_.reply(reply);
  healthy_ = false;
  if (reply.code != 421) trace_.note("a reply to no command: the server is out of step with the dialogue");
  return Outcome::failure(ERROR_FTP_DROPPED, reply);
}

Outcome ControlChannel::send(const Command& command, bool pipelined) {
  if (!healthy_) return Outcome::failure(ERROR_FTP_DROPPED);
  if (command.argument.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos ||
      command.verb.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
    trace_.note("refused to send " + command.verb + ": its argument holds a line end or NUL");
    return Outcome::failure(ERROR_INVALID_PARAMETER);
  }
  while (outstanding_ > 0 && !pipelined) {
    Reply owed;
    if (Outcome o = next(owed, Clock::now() + timeouts_.reply); !o.ok()) return o;
  }
  if (!pipelined)
    if (Outcome o = unasked(); !o.ok()) return o;
  std::string line = command.verb;
  if (!command.argument.empty()) line.append(" ").append(command.argument);
  line.append("\r\n");
  notifier_->status(INTERNET_STATUS_SENDING_REQUEST);
  trace_.command(command);
  if (cancel_ && cancel_->cancelled()) return Outcome::failure(ERROR_INTERNET_OPERATION_CANCELLED);
  // Not cancellable once begun: half a command would leave the connection unusable.
  if (Outcome o = writeAll(*transport_, line, timeouts_.reply, nullptr); !o.ok()) {
    healthy_ = false;
    return o;
  }
  ++outstanding_;
  notifier_->count(INTERNET_STATUS_REQUEST_SENT, static_cast<DWORD>(line.size()));
  return Outcome::success();
}

Outcome ControlChannel::receive(Reply& out) { return receive(out, Clock::now() + timeouts_.reply); }

Outcome ControlChannel::receive(Reply& out, Clock::time_point deadline) {
  // A reply that came before the server closed the connection is still its answer.
  if (!healthy_ && !reader_.peek()) return Outcome::failure(ERROR_FTP_DROPPED);
  notifier_->status(INTERNET_STATUS_RECEIVING_RESPONSE);
  if (Outcome o = next(out, deadline); !o.ok()) return o;
  notifier_->count(INTERNET_STATUS_RESPONSE_RECEIVED, static_cast<DWORD>(out.wireBytes));
  return Outcome::success();
}

Io::Status ControlChannel::takeAvailable() {
  char chunk[4096];
  // Bounded: a server that keeps talking during a transfer does not keep us from the data.
  for (int round = 0; round < 16; ++round) {
    Io io = transport_->read(chunk, sizeof chunk);
    if (io.status != Io::Status::Moved) return io.status;
    reader_.feed(chunk, io.bytes);
  }
  return Io::Status::Again;
}

bool ControlChannel::quiet(std::string& why) {
  if (!settled()) {
    why = "it was not idle";
    return false;
  }
  const Io::Status status = takeAvailable();
  if (status == Io::Status::Again && !reader_.holdsBytes()) return true;
  healthy_ = false;
  Reply said;
  if (reader_.peek() && reader_.next(said) == ReplyReader::State::Ready) {
    trace_.reply(said);
    why = "the server said " + std::to_string(said.code) + " meanwhile";
  } else if (status == Io::Status::End) {
    why = "the server closed it";
  } else if (status == Io::Status::Again) {
    why = "the server sent something unasked";
  } else {
    why = "the connection failed";
  }
  return false;
}

void ControlChannel::announce(const Command& command, const Reply& known) {
  std::string line = command.verb;
  if (!command.argument.empty()) line.append(" ").append(command.argument);
  notifier_->status(INTERNET_STATUS_SENDING_REQUEST);
  trace_.note(line + ": in force already, not sent");
  notifier_->count(INTERNET_STATUS_REQUEST_SENT, static_cast<DWORD>(line.size() + 2));
  notifier_->status(INTERNET_STATUS_RECEIVING_RESPONSE);
  notifier_->count(INTERNET_STATUS_RESPONSE_RECEIVED, static_cast<DWORD>(known.wireBytes));
}

bool ControlChannel::absorb() {
  if (!healthy_) return false;
  const Io::Status status = takeAvailable();
  if (status != Io::Status::Again) {
    if (status == Io::Status::End) trace_.note("the server closed the control connection");
    healthy_ = false;
    return false;
  }
  if (!reader_.peek() && reader_.malformed()) {
    trace_.note("malformed reply: " + reader_.problem());
    healthy_ = false;
    return false;
  }
  return true;
}

Outcome ControlChannel::secure(const TransportWrap& wrap) {
  if (!healthy_) return Outcome::failure(ERROR_FTP_DROPPED);
  // Whatever came in clear after the server agreed to TLS would pass for a protected reply later.
  if (reader_.holdsBytes()) {
    healthy_ = false;
    Reply more;
    if (reader_.next(more) == ReplyReader::State::Ready) last_ = more;
    trace_.note("the server went on in plain text where TLS was expected");
    return Outcome::failure(ERROR_INTERNET_SECURITY_CHANNEL_ERROR, last_);
  }
  if (Outcome o = wrap(transport_, Clock::now() + timeouts_.reply, cancel_); !o.ok()) {
    healthy_ = false;
    return o;
  }
  return Outcome::success();
}

void ControlChannel::quit() {
  // Only an idle connection says goodbye: one still owed a reply (a cancelled request, a server that
  // never greeted) is simply closed.
  if (!healthy_ || !transport_ || outstanding_ > 0) return;
  // A goodbye is a courtesy: it never holds up the close for long.
  Timeouts brief = timeouts_;
  brief.reply = std::min(timeouts_.reply, Millis(1000));
  std::swap(timeouts_, brief);
  cancel_ = nullptr;
  Reply goodbye;
  if (send({"QUIT", "", false}).ok()) (void)receive(goodbye);
  std::swap(timeouts_, brief);
}

void ControlChannel::close() {
  if (healthy_ && transport_)
    (void)transport_->shutdown(Clock::now() + std::min(timeouts_.reply, Millis(1000)), nullptr);
  transport_.reset();
  healthy_ = false;
}

}  // namespace inet
