#include "transfer.h"

#include <vector>

#include "address.h"
#include "ascii.h"
#include "local_file.h"

namespace inet {

DataTransfer::DataTransfer(DataPath& path, char type, Command command, DataSink* sink, DataSource* source)
    : path_(path), type_(type), command_(std::move(command)), sink_(sink), source_(source) {}

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

Step DataTransfer::openData() {
  if (!path_.passive) return Step::listen();
  // PASV cannot name an IPv6 port; EPSV can name either.
  if (path_.ipv6 || !path_.extendedRefused) {
    state_ = State::Epsv;
    // Once EPSV has answered on this connection, the command goes right behind it: the server waits
    // for the data connection it announces, and a round trip is saved.
    if (path_.epsvAnswers) {
      sentAhead_ = true;
      return Step::sendBoth({"EPSV", "", false}, command_);
    }
    return Step::send({"EPSV", "", false});
  }
  state_ = State::Pasv;
  return Step::send({"PASV", "", false});
}

Step DataTransfer::sendCommand() {
  state_ = State::Command;
  return Step::send(command_);
}

Step DataTransfer::onReply(const Reply& r) {
  switch (state_) {
    case State::Type:
      if (typeAnnounced_) return openData();  // an MLSD leaves the TYPE in force as it was
      if (!r.completion()) {
        path_.type = 0;
        return Step::done(Outcome::refused(r));
      }
      path_.type = type_;
      path_.typeReply = r;
      return openData();
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

}  // namespace

Outcome retrieve(Ftp& ftp, const Download& download) {
  DownloadFile file;
  if (Outcome o = file.open(download.local, download.failIfExists, download.readOnly); !o.ok()) return o;
  FileSink sink(file, download.ascii);
  DataTransfer transfer(ftp.dataPath(), download.ascii ? 'A' : 'I', {"RETR", download.remote, false}, &sink,
                        nullptr);
  if (Outcome o = ftp.run(transfer); !o.ok()) return o;  // the file's destructor removes the partial copy
  // A server that reports success after sending less than the file it announced (a cut connection
  // it did not notice) must not replace a good local copy with a short one. ASCII changes the count.
  if (!download.ascii) {
    std::optional<uint64_t> expected = transfer.announcedSize();
    if (!expected) expected = ftp.rememberedSize(download.remote);
    if (expected && sink.received() < *expected) {
      ftp.trace().note("received " + std::to_string(sink.received()) + " of the " +
                       std::to_string(*expected) + " bytes announced: the transfer is incomplete");
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
