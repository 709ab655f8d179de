// One FTP session over one control connection, and the driver that runs operations on it. Owned by
// its Connection handle and used only by the thread serving the connection's current request.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "control.h"
#include "data_channel.h"
#include "inet/certificates.h"
#include "inet/options.h"
#include "operation.h"
#include "proxy.h"
#include "tls.h"
#include "tls_mode.h"

namespace inet {

struct ConnectParams {
  std::string host;
  uint16_t port = 21;
  std::optional<Gateway> gateway;  // a TIS gateway between us and host
  std::string user;
  std::string password;
  bool passive = false;
  Timeouts timeouts;
  TlsMode tls = TlsMode::None;
  std::shared_ptr<const TrustQuestion> trustQuestion;  // the session's, when it asks its user
};

// What the server said it can do in its FEAT reply.
struct Features {
  bool mlst = false;  // MLST and MLSD
  bool utf8 = false;
  bool mdtm = false;
  bool size = false;
  bool rest = false;  // REST STREAM: a download may begin at an offset
};

// What the data connections of this session have learned.
struct DataPath {
  bool passive = false;
  bool ipv6 = false;
  bool extendedRefused = false;  // EPSV or EPRT was refused once: go straight to PASV or PORT
  bool epsvAnswers = false;      // EPSV has named a port: the command may follow it without waiting
  char type = 0;                 // the TYPE in force ('A' or 'I'), 0 while unknown
  Reply typeReply;               // the server's answer when it was set
};

// Where the control connection stands. Callers' relative paths start from the logon folder, so every
// command that leaves it (a lookup's CWD) comes back before the request ends; one that could not come
// back leaves the connection astray, and it is not kept for the next request.
struct Place {
  std::optional<std::string> home;  // the logon folder, once a PWD has named it
  bool astray = false;
};

class Ftp {
 public:
  // One transfer's buffer, and the most data one block notification stands for: big enough that
  // notifying costs little beside the copying, small enough for a smooth progress bar.
  static constexpr size_t kBlock = 256 * 1024;
  // What one read or write on a data connection moves when the data passes through the process.
  static constexpr size_t kChunk = 64 * 1024;

  explicit Ftp(ConnectParams params);
  ~Ftp();
  Ftp(const Ftp&) = delete;
  Ftp& operator=(const Ftp&) = delete;

  void bind(const Notifier* notifier, const Canceller* cancel);
  // Resolves, connects and logs on, with the connection notifications. The id names the connection
  // in the trace.
  Outcome open(uint32_t connectionId);
  Outcome run(Operation& operation);
  // CLOSING_CONNECTION, QUIT when the connection is idle and sound, CONNECTION_CLOSED.
  void close();
  // Closes the sockets at once, without a word: for a session that failed to start.
  void drop();
  // Forgets the password once no logon will need it again: only its salted hash stays, in key().
  void forgetPassword();

  // What the connection may be taken again for, and the server it goes to (keeping.h).
  const std::string& key() const { return key_; }
  const std::string& server() const { return server_; }
  // The last reply of the logon, which a connect that takes this connection again reports.
  const Reply& logonReply() const { return logonReply_; }
  // Logged on, idle, nothing owed, no fault: it may be kept.
  bool settled() const { return control_ && !data_ && control_->settled() && !place_.astray; }
  // Still settled, and the server has not closed it or said anything meanwhile.
  bool stillSound(std::string& why);
  // Its certificate (when secured) would be accepted now without asking anyone: verified, or in the
  // trust file for this host. A session that asks nobody never gets one that only a question let in.
  bool trustedWithoutAsking() const;
  // A connection kept from before NIMBO_FTP_TRACE was set is traced from when it is taken again.
  void refreshTrace();

  // Every data connection from now on goes through `wrap` once open (TLS after PROT P); an empty
  // one leaves them plain.
  void secureData(TransportWrap wrap) { dataWrap_ = std::move(wrap); }

  bool connected() const { return control_ != nullptr; }
  ControlChannel& control() { return *control_; }
  const ConnectParams& params() const { return params_; }
  Features& features() { return features_; }
  DataPath& dataPath() { return dataPath_; }
  Place& place() { return place_; }
  const Trace& trace() const { return trace_; }
  const Notifier& notifier() const { return *notifier_; }
  // The last reply the server sent, whatever it said.
  Reply lastReply() const;

  // The size of the file a find last looked up, for the download that usually follows it to check
  // that the whole file came. Forgotten by any request that may change files.
  void rememberSize(std::string path, uint64_t size) { lookedUp_ = {std::move(path), size}; }
  std::optional<uint64_t> rememberedSize(const std::string& path) const {
    if (lookedUp_ && lookedUp_->first == path) return lookedUp_->second;
    return std::nullopt;
  }
  void forgetSize() { lookedUp_.reset(); }

 private:
  Step receiveFor(Operation& op);
  Outcome pump(Operation& op);
  Outcome download(DataSink& sink);
  Outcome upload(DataSource& source);
  Outcome sendFile(int file, bool& unsupported);
  // A data connection that could not be made after its command went out behind EPSV: the reply owed.
  Outcome settleSentAhead(Operation& op, Outcome failed);
  // TLS on the control connection (after AUTH TLS, or from the start), then the logon, then PBSZ and
  // PROT so that data connections follow.
  Outcome logOnSecurely(const std::string& user);

  ConnectParams params_;
  std::string key_;
  std::string server_;
  uint32_t traceId_ = 0;
  Reply logonReply_;
  Trace trace_;
  std::unique_ptr<ControlChannel> control_;
  Features features_;
  DataPath dataPath_;
  Place place_;
  std::optional<DataChannel> data_;  // while an operation has a data connection
  TransportWrap dataWrap_;
  std::shared_ptr<TlsContext> tls_;
  std::optional<std::pair<std::string, uint64_t>> lookedUp_;
  std::unique_ptr<char[]> buffer_;
  const Notifier* notifier_;
  const Canceller* cancel_ = nullptr;
};

}  // namespace inet
