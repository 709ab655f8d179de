// A command with a data connection (RETR, STOR, LIST, MLSD): TYPE, then EPSV/PASV or EPRT/PORT as
// the connection's mode says, then the command, the data, and its final reply. So a download sends
// exactly three commands before its data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ftp.h"
#include "operation.h"

namespace inet {

class DataTransfer : public Operation {
 public:
  // type: 'A' or 'I'. One of sink (data comes in) and source (data goes out).
  DataTransfer(DataPath& path, char type, Command command, DataSink* sink, DataSource* source);

  Step start() override;
  Step onReply(const Reply& reply) override;
  Step onDataReady(Outcome outcome, const Endpoint& listening) override;
  Step onDataDone(Outcome outcome) override;
  // The size the server gave in its preliminary reply ("150 ... (1234 bytes)"), when it gave one.
  std::optional<uint64_t> announcedSize() const { return announced_; }
  bool sentAhead() const override { return sentAhead_; }
  DataSink* sink() override { return sink_; }
  DataSource* source() override { return source_; }

 private:
  enum class State { Type, Epsv, Pasv, Eprt, Port, Command, Final };
  Step openData();
  Step outOfStep(const Reply& reply);
  Step sendCommand();

  DataPath& path_;
  char type_;
  Command command_;
  DataSink* sink_;
  DataSource* source_;
  Endpoint listening_;
  State state_ = State::Type;
  bool sentAhead_ = false;
  bool typeAnnounced_ = false;  // the TYPE exchange was only announced: what is in force stays
  std::optional<uint64_t> announced_;
};

// The size in a preliminary reply's "(1234 bytes)", as vsftpd and ProFTPD give it.
std::optional<uint64_t> sizeInReply(std::string_view text);

struct Download {
  std::string remote;
  std::string local;  // a Windows path
  bool failIfExists = false;
  bool readOnly = false;
  bool ascii = false;
};

struct Upload {
  std::string local;
  std::string remote;
  bool ascii = false;
};

Outcome retrieve(Ftp& ftp, const Download& download);
Outcome store(Ftp& ftp, const Upload& upload);

}  // namespace inet
