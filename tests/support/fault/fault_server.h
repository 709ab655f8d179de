// A scripted FTP server for what a real one cannot do on cue: replies overridden per command, delays,
// silence, dropped connections (at once, or once idle for a while), byte-by-byte sending, slow or cut data,
// hostile listings; with a certificate, FTP over TLS and its faults (a stalled handshake, a data connection
// cut without a TLS close).
//
// It serves an in-memory tree on an ephemeral loopback port (127.0.0.1, or ::1), one thread per
// connection, and records every command it gets. Without faults it is a plain, correct server: USER,
// PASS, FEAT, OPTS, TYPE, EPSV, PASV, EPRT, PORT, LIST, MLSD, MLST, SIZE, MDTM, CWD, PWD, RETR, STOR,
// RNFR, RNTO, DELE, MKD, RMD, NOOP, QUIT; and REST before RETR with Options::rest.
//
//   faultftp::FaultServer server;
//   server.putFile("/pub/a.txt", "hello");
//   server.add(faultftp::Fault::on("RETR").replying("550 No such file."));
//   ... InternetConnectA(root, server.address().c_str(), ...) ...
//   EXPECT_EQ(server.verbs(), (std::vector<std::string>{"USER", "PASS", "FEAT", ...}));
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace faultftp {

using Millis = std::chrono::milliseconds;

// What to do instead of the normal answer to one command.
struct Fault {
  std::string verb;                  // "RETR", ...; "GREETING" for the greeting
  int occurrence = 0;                // 0: every time; n: the n-th time the verb comes (from 1)
  std::optional<std::string> reply;  // sent instead of the normal reply; a missing final CRLF is added
  Millis delay{0};                   // before replying
  bool silent = false;               // never reply; the connection stays open
  bool close = false;                // close the control connection (after `reply`, when there is one)
  // Transfer commands (LIST, MLSD, RETR, STOR):
  bool closeAfterPreliminary = false;     // send the 1xx reply, then close the control and data connections
  std::optional<size_t> dataLimit;        // close the data connection after this many bytes
  std::optional<std::string> finalReply;  // the reply after the data instead of "226 ..."
  int preliminaryCode = 150;              // 125 like servers whose data connection is already open
  bool sizeInPreliminary = false;         // RETR: "150 ... (N bytes)." with the file's size, as vsftpd says
  size_t dataChunk = 0;                   // bytes per write on the data connection; 0: 64 KiB
  Millis dataPause{0};                    // pause between those writes
  // PASV: the address to announce, "h1,h2,h3,h4" (the port is the real one).
  std::optional<std::string> pasvHost;
  // TLS (Options::tlsCertificate): AUTH, or GREETING with implicit TLS, takes no part in the handshake
  // (AUTH is answered 234 first); transfers end their data connection without a TLS close.
  bool stallHandshake = false;
  bool noTlsClose = false;
  // Once this command is answered: when no command follows within `idleLimit`, the server sends
  // `idleGoodbye` ("421 ..."; none for a silent close) and closes the control connection.
  std::optional<Millis> idleLimit;
  std::string idleGoodbye;

  // Built in one expression: Fault::on("RETR").chunks(1000, Millis(5)).
  static Fault on(std::string verb, int occurrence = 0) {
    Fault f;
    f.verb = std::move(verb);
    f.occurrence = occurrence;
    return f;
  }
  Fault& replying(std::string text) { return reply = std::move(text), *this; }
  Fault& after(Millis wait) { return delay = wait, *this; }
  Fault& saysNothing() { return silent = true, *this; }
  Fault& hangsUp() { return close = true, *this; }
  Fault& hangsUpAfterPreliminary() { return closeAfterPreliminary = true, *this; }
  Fault& cutsDataAfter(size_t bytes) { return dataLimit = bytes, *this; }
  Fault& endsWith(std::string text) { return finalReply = std::move(text), *this; }
  Fault& preliminary(int code) { return preliminaryCode = code, *this; }
  Fault& tellsSize() { return sizeInPreliminary = true, *this; }
  Fault& chunks(size_t bytes, Millis pauseBetween = Millis(0)) {
    dataChunk = bytes;
    dataPause = pauseBetween;
    return *this;
  }
  Fault& announces(std::string host) { return pasvHost = std::move(host), *this; }
  Fault& stallsHandshake() { return stallHandshake = true, *this; }
  Fault& withoutTlsClose() { return noTlsClose = true, *this; }
  Fault& dropsWhenIdle(Millis limit, std::string goodbye = "") {
    idleLimit = limit;
    idleGoodbye = std::move(goodbye);
    return *this;
  }
};

struct Options {
  bool ipv6 = false;
  bool mlsd = false;  // offer MLST/MLSD in FEAT
  bool utf8 = true;   // offer UTF8 in FEAT
  // Offer REST STREAM in FEAT and honour "REST n" when RETR follows it at once (any other command in
  // between forgets it, as RFC 3659 has it).
  bool rest = false;
  bool bytewise = false;  // send every control reply one byte at a time
  std::string password;   // empty: any password is right
  // A PEM file with a certificate and its key: the server then speaks TLS as RFC 4217 says (AUTH TLS,
  // PBSZ, PROT P protecting data connections, which may resume the control connection's session).
  std::string tlsCertificate;
  bool implicitTls = false;  // TLS from the first byte (with tlsCertificate)
};

class FaultServer {
 public:
  explicit FaultServer(Options options = {});
  ~FaultServer();
  FaultServer(const FaultServer&) = delete;
  FaultServer& operator=(const FaultServer&) = delete;

  uint16_t port() const { return port_; }
  // "127.0.0.1:PORT" or "[::1]:PORT".
  std::string address() const;

  void add(Fault fault);
  void putFile(const std::string& path, std::string bytes);
  // A file of `size` bytes made up on the fly (byte i is patternByte(i)): large files cost no memory.
  void putPatternFile(const std::string& path, uint64_t size);
  // The time MDTM and the listings give for a file ("YYYYMMDDHHMMSS"; 20200102030405 unless set).
  void setModified(const std::string& path, std::string stamp);
  void makeDirectory(const std::string& path);
  // The raw data that LIST and MLSD of `directory` send instead of the real listing.
  void setListing(const std::string& directory, std::string raw);
  std::optional<std::string> file(const std::string& path) const;
  bool exists(const std::string& path) const;

  // Every command line received (PASS included, as sent), in order, over all connections.
  std::vector<std::string> commands() const;
  // Their verbs only.
  std::vector<std::string> verbs() const;
  // Waits until a command with this verb has come `times` times.
  bool waitFor(const std::string& verb, int times = 1, Millis limit = Millis(10000)) const;
  // When each command came (steady clock), parallel to commands().
  std::vector<std::chrono::steady_clock::time_point> arrivals() const;
  int connections() const { return connections_.load(); }
  // Connections still open on the server side.
  int openConnections() const { return open_.load(); }
  // Bytes the server has written on data connections so far.
  uint64_t dataSent() const { return dataSent_.load(); }

  static char patternByte(uint64_t i) { return static_cast<char>((i * 2654435761u) >> 13); }

 private:
  struct Node {
    bool directory = false;
    std::string bytes;
    std::optional<uint64_t> patternSize;
    std::string modified = "20200102030405";
  };
  class Session;
  friend class Session;
  struct Tls;

  void acceptLoop();
  std::optional<Fault> faultFor(const std::string& verb);
  void record(const std::string& line);

  Options options_;
  int listener_ = -1;
  int stop_ = -1;  // eventfd: readable once the server stops
  uint16_t port_ = 0;
  std::thread acceptor_;
  std::atomic<int> connections_{0};
  std::atomic<int> open_{0};
  std::atomic<uint64_t> dataSent_{0};

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<Fault> faults_;
  std::map<std::string, int> seen_;  // verb -> times received
  std::map<std::string, Node> tree_;
  std::map<std::string, std::string> listings_;
  std::vector<std::string> commands_;
  std::vector<std::chrono::steady_clock::time_point> arrivals_;
  std::vector<std::thread> sessions_;
  std::unique_ptr<Tls> tls_;  // set once in the constructor
};

}  // namespace faultftp
