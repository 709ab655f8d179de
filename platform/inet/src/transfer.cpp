#include "transfer.h"

#include <algorithm>
#include <vector>

#include "address.h"
#include "ascii.h"
#include "listing_parser.h"
#include "local_file.h"

namespace inet {

DataTransfer::DataTransfer(DataPath& path, char type, Command command, DataSink* sink, DataSource* source,
                           Continuation* continuation)
    : path_(path),
      type_(type),
      command_(std::move(command)),
      sink_(sink),
      source_(source),
      continuation_(continuation) {}

Step DataTransfer::start() {
  state_ = State::Type;
  Command type{"TYPE", std::string(1, type_), false};
  // The TYPE in force is not sent again; a listing in facts goes as if TYPE L 8 were in force whatever
  // TYPE says (RFC 3659, 7.2). The exchange is still announced: callers count a request's first
  // notifications (the client's progress passes over three before the data).
  if (path_.typeReply.code != 0 && (path_.type == type_ || command_.verb == "MLSD")) {
    typeAnnounced_ = true;
    return Step::known(std::move(type), path_.typeReply);
  }
  return Step::send(std::move(type));
}

Step DataTransfer::afterType() {
  if (continuation_ && continuation_->wantsIdentity()) return askIdentity();
  return openData();
}

Step DataTransfer::askIdentity() {
  state_ = State::Size;
  std::vector<Command> more{{"MDTM", command_.argument, false}};
  // With nothing to continue, the answers only label the partial file: the passive command (and the
  // command itself, once EPSV has answered here) go along, so no round trip is added.
  if (!continuation_->mayContinue() && path_.passive) {
    passiveAhead_ = true;
    more.push_back({extendedPassive() ? "EPSV" : "PASV", "", false});
    if (extendedPassive() && path_.epsvAnswers) {
      sentAhead_ = true;
      more.push_back(command_);
    }
  }
  return Step::sendAll({"SIZE", command_.argument, false}, std::move(more));
}

Step DataTransfer::openData() {
  if (!path_.passive) return Step::listen();
  // PASV cannot name an IPv6 port; EPSV can name either.
  if (extendedPassive()) {
    state_ = State::Epsv;
    // Once EPSV has answered on this connection, the command goes right behind it: the server waits
    // for the data connection it announces, and a round trip is saved. Not when REST must come first:
    // a RETR sent ahead would fetch from the beginning while the bytes go in after the partial file.
    if (path_.epsvAnswers && offset_ == 0) {
      sentAhead_ = true;
      return Step::sendBoth({"EPSV", "", false}, command_);
    }
    return Step::send({"EPSV", "", false});
  }
  state_ = State::Pasv;
  return Step::send({"PASV", "", false});
}

Step DataTransfer::sendCommand() {
  // REST right before the command it is for (RFC 3659, 5.3), and only when the partial file holds
  // exactly the bytes before that offset.
  if (offset_ > 0) {
    state_ = State::Rest;
    return Step::send({"REST", std::to_string(offset_), false});
  }
  state_ = State::Command;
  return Step::send(command_);
}

Step DataTransfer::onReply(const Reply& r) {
  switch (state_) {
    case State::Type:
      if (typeAnnounced_) return afterType();  // what is in force stays (an MLSD leaves it as it was)
      if (!r.completion()) {
        path_.type = 0;
        return Step::done(Outcome::refused(r));
      }
      path_.type = type_;
      path_.typeReply = r;
      return afterType();
    case State::Size:
      if (r.code == 213)
        size_ = parseSize(std::string_view(r.text).substr(std::min<size_t>(4, r.text.size())));
      state_ = State::Mdtm;
      return Step::awaitReply();  // MDTM went with SIZE
    case State::Mdtm: {
      std::optional<std::string> modified;
      if (r.code == 213) modified = modificationStamp(r.text);
      if (Outcome o = continuation_->identified(size_, modified, offset_); !o.ok())
        return Step::done(std::move(o));
      if (!passiveAhead_) return openData();
      state_ = extendedPassive() ? State::Epsv : State::Pasv;
      return Step::awaitReply();
    }
    case State::Rest:
      // Neither yes nor no: the server may or may not start where we asked, and no guess is safe.
      if (r.code != 350 && !r.failure()) return outOfStep(r);
      if (Outcome o = continuation_->restAnswered(r, offset_); !o.ok()) {
        if (r.code != 350) return Step::done(std::move(o));
        // The server would start the next RETR, whatever it is for, at the offset: taken back first.
        undone_ = std::move(o);
        state_ = State::RestUndone;
        return Step::send({"REST", "0", false});
      }
      if (r.code != 350) offset_ = 0;
      state_ = State::Command;
      return Step::send(command_);
    case State::RestUndone:
      return Step::done(std::move(undone_));
    case State::Epsv:
      if (r.code == 229) {
        if (auto port = parseEpsvPort(r.text)) {
          path_.epsvAnswers = true;
          return Step::openPassive(*port);
        }
      }
      // The command went with it and will be answered as if no data port were open: this dialogue
      // is not worth going on with.
      if (sentAhead_) return Step::done(Outcome::failure(ERROR_FTP_DROPPED, r));
      if (r.completion()) return outOfStep(r);
      path_.extendedRefused = true;
      if (path_.ipv6) return Step::done(Outcome::failure(ERROR_FTP_NO_PASSIVE_MODE, r));
      state_ = State::Pasv;
      return Step::send({"PASV", "", false});
    case State::Pasv:
      if (r.code == 227) {
        if (auto port = parsePasvPort(r.text)) return Step::openPassive(*port);
      }
      if (r.completion()) return outOfStep(r);
      return Step::done(Outcome::failure(ERROR_FTP_NO_PASSIVE_MODE, r));
    case State::Eprt:
      if (r.completion()) return sendCommand();
      path_.extendedRefused = true;
      if (auto port = portArgument(listening_)) {
        state_ = State::Port;
        return Step::send({"PORT", *port, false});
      }
      return Step::done(Outcome::refused(r));
    case State::Port:
      if (r.completion()) return sendCommand();
      return Step::done(Outcome::refused(r));
    case State::Command:
      if (r.preliminary()) {  // 150, or 125 when the data connection is already open
        announced_ = sizeInReply(r.text);
        return Step::transfer();
      }
      if (r.completion()) return Step::done(Outcome::success());  // nothing to move
      return Step::done(Outcome::refused(r));
    case State::Final:
      if (r.completion()) return Step::done(Outcome::success());
      return Step::done(Outcome::refused(r));
  }
  return Step::done(Outcome::failure(ERROR_INTERNET_INTERNAL_ERROR));
}

Step DataTransfer::outOfStep(const Reply& r) {
  // Success, but not the answer this command has: a reply meant for another command (a server that
  // answered one twice). Not a refusal of passive mode.
  return Step::done(Outcome::failure(ERROR_FTP_DROPPED, r));
}

Step DataTransfer::onDataReady(Outcome outcome, const Endpoint& listening) {
  if (!outcome.ok()) return Step::done(std::move(outcome));
  if (path_.passive && sentAhead_) {
    state_ = State::Command;
    return Step::awaitReply();
  }
  if (path_.passive) return sendCommand();
  listening_ = listening;
  if (!path_.ipv6 && path_.extendedRefused) {
    if (auto port = portArgument(listening_)) {
      state_ = State::Port;
      return Step::send({"PORT", *port, false});
    }
  }
  state_ = State::Eprt;
  return Step::send({"EPRT", eprtArgument(listening_), false});
}

Step DataTransfer::onDataDone(Outcome outcome) {
  // On failure the final reply is still owed; the control connection settles it before its next command.
  if (!outcome.ok()) return Step::done(std::move(outcome));
  state_ = State::Final;
  return Step::awaitReply();
}

std::optional<std::string> modificationStamp(std::string_view text) {
  // "213 YYYYMMDDHHMMSS[.sss]" (RFC 3659, 3): compared as the server wrote it, never converted.
  if (text.size() < 4) return std::nullopt;
  std::string_view stamp = text.substr(4);
  while (!stamp.empty() && (stamp.back() == ' ' || stamp.back() == '\r')) stamp.remove_suffix(1);
  size_t digits = 0;
  while (digits < stamp.size() && stamp[digits] >= '0' && stamp[digits] <= '9') ++digits;
  if (digits != 14) return std::nullopt;
  if (digits < stamp.size()) {
    if (stamp[digits] != '.' || digits + 1 == stamp.size() || stamp.size() - digits > 10) return std::nullopt;
    for (char c : stamp.substr(digits + 1))
      if (c < '0' || c > '9') return std::nullopt;
  }
  return std::string(stamp);
}

std::optional<uint64_t> sizeInReply(std::string_view text) {
  const size_t open = text.rfind('(');
  if (open == std::string_view::npos) return std::nullopt;
  std::string_view rest = text.substr(open + 1);
  uint64_t size = 0;
  size_t digits = 0;
  for (; digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9'; ++digits) {
    const uint64_t d = static_cast<uint64_t>(rest[digits] - '0');
    if (size > (UINT64_MAX - d) / 10) return std::nullopt;
    size = size * 10 + d;
  }
  rest.remove_prefix(digits);
  if (digits == 0 || (rest.substr(0, 7) != " bytes)" && rest.substr(0, 7) != " Bytes)")) return std::nullopt;
  return size;
}

namespace {

class FileSink final : public DataSink {
 public:
  FileSink(DownloadFile& file, bool ascii) : file_(file), ascii_(ascii) {}
  Outcome write(const char* data, size_t size) override {
    received_ += size;
    if (!ascii_) return file_.write(data, size);
    converted_.resize(size + 1);
    return file_.write(converted_.data(), toLocal_.convert(data, size, converted_.data()));
  }
  Outcome finish() override {
    char tail[1];
    return file_.write(tail, toLocal_.finish(tail));
  }
  uint64_t received() const { return received_; }

 private:
  DownloadFile& file_;
  bool ascii_;
  AsciiToLocal toLocal_;
  std::vector<char> converted_;
  uint64_t received_ = 0;
};

class FileSource final : public DataSource {
 public:
  FileSource(UploadFile& file, bool ascii) : file_(file), ascii_(ascii) {}
  Outcome read(char* buffer, size_t capacity, size_t& got) override {
    if (!ascii_) return file_.read(buffer, capacity, got);
    raw_.resize(capacity / 2);
    size_t n = 0;
    if (Outcome o = file_.read(raw_.data(), raw_.size(), n); !o.ok()) return o;
    got = toWire_.convert(raw_.data(), n, buffer);
    return Outcome::success();
  }
  int descriptor() const override { return ascii_ ? -1 : file_.fd(); }

 private:
  UploadFile& file_;
  bool ascii_;
  LocalToAscii toWire_;
  std::vector<char> raw_;
};

// The partial file's side of a download that may continue one.
class PartialContinuation final : public Continuation {
 public:
  PartialContinuation(Ftp& ftp, DownloadFile& file, const Download& download, bool possible)
      : ftp_(ftp), file_(file), download_(download), possible_(possible) {}

  bool wantsIdentity() const override { return possible_; }
  bool mayContinue() const override { return file_.continuable(); }

  Outcome identified(std::optional<uint64_t> size, std::optional<std::string> modified,
                     uint64_t& offset) override {
    offset = 0;
    std::string why;
    if (!size || !modified) {
      Outcome o = file_.unlabelled(why);
      ftp_.trace().note("no size or time of " + download_.remote + " from the server: " + file_.name() +
                        " is not kept should the download end early");
      thrownAway(why);
      return o;
    }
    Outcome o =
        file_.label(remoteIdentity(ftp_.params(), download_.remote, *size, *modified), *size, offset, why);
    thrownAway(why);
    if (o.ok() && offset > 0)
      ftp_.trace().note(file_.name() + " holds " + std::to_string(offset) + " of the " +
                        std::to_string(*size) + " bytes of this version of the file: resuming at byte " +
                        std::to_string(offset));
    return o;
  }

  Outcome restAnswered(const Reply& reply, uint64_t offset) override {
    if (reply.code == 350) {
      if (Outcome o = file_.seek(offset); !o.ok()) return o;
      continuedFrom_ = offset;
      if (download_.resumedFrom) download_.resumedFrom->store(offset);
      return Outcome::success();
    }
    // Never a guess at what the server will send: from the beginning, into an emptied file.
    ftp_.trace().note("REST refused: " + file_.name() + " starts over from byte 0");
    if (reply.code == 500 || reply.code == 502) ftp_.features().rest = false;
    return file_.restart();
  }

  uint64_t continuedFrom() const { return continuedFrom_; }

 private:
  void thrownAway(const std::string& why) {
    if (!why.empty()) ftp_.trace().note(file_.name() + " thrown away: " + why);
  }

  Ftp& ftp_;
  DownloadFile& file_;
  const Download& download_;
  bool possible_;
  uint64_t continuedFrom_ = 0;
};

}  // namespace

std::string remoteIdentity(const ConnectParams& server, std::string_view remote, uint64_t size,
                           std::string_view modified) {
  std::string record = "server ";
  record.append(server.host).append(" ").append(std::to_string(server.port));
  if (server.gateway)
    record.append(" via ")
        .append(server.gateway->host)
        .append(" ")
        .append(std::to_string(server.gateway->port));
  record.append("\nuser ").append(server.user).append("\n");
  record.append("remote ").append(remote).append("\n");
  record.append("size ").append(std::to_string(size)).append("\n");
  record.append("modified ").append(modified).append("\n");
  return record;
}

Outcome retrieve(Ftp& ftp, const Download& download) {
  if (download.resumedFrom) download.resumedFrom->store(0);
  DownloadFile file;
  const auto wanted = download.ascii ? DownloadFile::Kind::Temporary : DownloadFile::Kind::Partial;
  if (Outcome o = file.open(download.local, download.failIfExists, download.readOnly, wanted); !o.ok())
    return o;
  const bool partial = file.kind() == DownloadFile::Kind::Partial;
  // A partial file is worth keeping only where a later download can continue it (REST STREAM), and
  // only with the file's size and time to tell one version of it from another.
  const Features& offered = ftp.features();
  const bool possible = partial && offered.rest && offered.size && offered.mdtm;
  if (partial && !possible) {
    std::string why;
    if (Outcome o = file.unlabelled(why); !o.ok()) return o;
    if (!why.empty()) ftp.trace().note(file.name() + " thrown away: the server cannot continue a download");
  }
  FileSink sink(file, download.ascii);
  PartialContinuation continuation(ftp, file, download, possible);
  DataTransfer transfer(ftp.dataPath(), download.ascii ? 'A' : 'I', {"RETR", download.remote, false}, &sink,
                        nullptr, partial ? &continuation : nullptr);
  Outcome o = ftp.run(transfer);
  const uint64_t have = continuation.continuedFrom() + sink.received();
  if (!o.ok()) {
    // Kept, or removed, by the file's destructor.
    if (file.labelled() && have > 0)
      ftp.trace().note(file.name() + " kept with " + std::to_string(have) +
                       " bytes, for a later download to resume");
    return o;
  }
  // A server that reports success after sending less than the file it announced (a cut connection
  // it did not notice) must not replace a good local copy with a short one. ASCII changes the count.
  if (!download.ascii) {
    std::optional<uint64_t> expected = transfer.remoteSize();
    if (!expected && continuation.continuedFrom() == 0) expected = transfer.announcedSize();
    if (!expected) expected = ftp.rememberedSize(download.remote);
    if (expected && have < *expected) {
      ftp.trace().note("received " + std::to_string(have) + " of the " + std::to_string(*expected) +
                       " bytes announced: the transfer is incomplete");
      return Outcome::refused(ftp.lastReply());
    }
    // A resumed file that the server said is unchanged ends exactly at its size. More means the
    // server sent from elsewhere than it agreed to: the partial file is no beginning of the file.
    if (continuation.continuedFrom() > 0 && expected && have != *expected) {
      ftp.trace().note("the resumed download ended at byte " + std::to_string(have) + ", not at " +
                       std::to_string(*expected) + ": " + file.name() + " thrown away");
      (void)file.restart();
      return Outcome::refused(ftp.lastReply());
    }
  }
  return file.commit();
}

Outcome store(Ftp& ftp, const Upload& upload) {
  UploadFile file;
  if (Outcome o = file.open(upload.local); !o.ok()) return o;
  FileSource source(file, upload.ascii);
  DataTransfer transfer(ftp.dataPath(), upload.ascii ? 'A' : 'I', {"STOR", upload.remote, false}, nullptr,
                        &source);
  return ftp.run(transfer);
}

}  // namespace inet
