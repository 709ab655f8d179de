// A command with a data connection (RETR, STOR, LIST, MLSD): TYPE, then EPSV/PASV or EPRT/PORT as
// the connection's mode says, then the command, the data, and its final reply. So a download sends
// three commands before its data; one that may continue an earlier one asks SIZE and MDTM after the
// TYPE, in the same round trip as the passive command, and sends REST right before RETR when it
// continues.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ftp.h"
#include "operation.h"

namespace inet {

// What a download that may continue a partial file from before decides between its commands.
class Continuation {
 public:
  virtual ~Continuation() = default;
  // Whether to ask the server for the file's size and time (SIZE and MDTM, one round trip).
  virtual bool wantsIdentity() const = 0;
  // Whether a partial file could be continued: RETR then waits for those answers and for the REST.
  virtual bool mayContinue() const = 0;
  // The answers, each missing when the server gave none; `offset` := the byte to continue from (0:
  // from the beginning). A failure is local and ends the transfer.
  virtual Outcome identified(std::optional<uint64_t> size, std::optional<std::string> modified,
                             uint64_t& offset) = 0;
  // The server's answer to "REST offset": 350 continues there, anything else starts over.
  virtual Outcome restAnswered(const Reply& reply, uint64_t offset) = 0;
};

class DataTransfer : public Operation {
 public:
  // type: 'A' or 'I'. One of sink (data comes in) and source (data goes out). `continuation` only for
  // a download that may continue a partial file.
  DataTransfer(DataPath& path, char type, Command command, DataSink* sink, DataSource* source,
               Continuation* continuation = nullptr);

  Step start() override;
  Step onReply(const Reply& reply) override;
  Step onDataReady(Outcome outcome, const Endpoint& listening) override;
  Step onDataDone(Outcome outcome) override;
  // The size the server gave in its preliminary reply ("150 ... (1234 bytes)"), when it gave one.
  std::optional<uint64_t> announcedSize() const { return announced_; }
  bool sentAhead() const override { return sentAhead_; }
  DataSink* sink() override { return sink_; }
  DataSource* source() override { return source_; }
  // The size SIZE gave, when it was asked and answered.
  std::optional<uint64_t> remoteSize() const { return size_; }

 private:
  enum class State { Type, Size, Mdtm, Epsv, Pasv, Eprt, Port, Rest, RestUndone, Command, Final };
  Step afterType();
  Step askIdentity();
  Step openData();
  Step outOfStep(const Reply& reply);
  Step sendCommand();
  bool extendedPassive() const { return path_.ipv6 || !path_.extendedRefused; }

  DataPath& path_;
  char type_;
  Command command_;
  DataSink* sink_;
  DataSource* source_;
  Endpoint listening_;
  Continuation* continuation_;
  State state_ = State::Type;
  bool sentAhead_ = false;
  bool typeAnnounced_ = false;  // the TYPE exchange was only announced: what is in force stays
  bool passiveAhead_ = false;  // EPSV or PASV went with SIZE and MDTM
  uint64_t offset_ = 0;        // the REST to send before the command
  Outcome undone_;             // a local failure after the server accepted the REST
  std::optional<uint64_t> size_;
  std::optional<uint64_t> announced_;
};

// The time in an MDTM reply ("213 20240102030405" or with a fraction), as the server wrote it; nothing
// for a reply that holds none.
std::optional<std::string> modificationStamp(std::string_view text);

// The size in a preliminary reply's "(1234 bytes)", as vsftpd and ProFTPD give it.
std::optional<uint64_t> sizeInReply(std::string_view text);

struct Download {
  std::string remote;
  std::string local;  // a Windows path
  bool failIfExists = false;
  bool readOnly = false;
  bool ascii = false;
  // Where the download's first byte lies in the file (0 unless it continues a partial file); read by
  // inet::resumedFrom from any thread.
  std::atomic<uint64_t>* resumedFrom = nullptr;
};

// What a partial file's record (local_file.h) says of the remote file: who the bytes come from and
// which version of the file.
std::string remoteIdentity(const ConnectParams& server, std::string_view remote, uint64_t size,
                           std::string_view modified);

struct Upload {
  std::string local;
  std::string remote;
  bool ascii = false;
};

Outcome retrieve(Ftp& ftp, const Download& download);
Outcome store(Ftp& ftp, const Upload& upload);

}  // namespace inet
