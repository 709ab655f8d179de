// FTP over TLS, beside the WinINet calls: what a caller is asked when a server's certificate is not
// trusted, the file of certificates the user chose to trust, and the authorities tests add to the
// system's. WinINet has no such calls; these are the layer's own.
//
// A server name "ftpes://host[:port]" asks for explicit TLS (AUTH TLS right after the greeting),
// "ftps://host[:port]" for implicit TLS (port 990 unless given). A certificate is trusted when it
// verifies against the system's authorities and names the host, or when the trust file holds its
// fingerprint for that host, or when the session's trust question says so. Otherwise the connect fails
// with ERROR_INTERNET_INVALID_CA, _SEC_CERT_CN_INVALID or _SEC_CERT_DATE_INVALID.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "inet/wininet.h"

namespace inet {

// What the user is shown before deciding to trust a certificate.
struct CertificateFacts {
  std::string host;  // the server as the caller named it
  std::uint16_t port = 0;
  std::string subject;  // one line, "CN=ftp.example.org,O=Example"
  std::string issuer;
  std::string validFrom;  // "2025-01-31 12:00:00 UTC"
  std::string validUntil;
  std::string fingerprint;  // SHA-256 of the certificate, "3F:A2:..." (32 pairs)
  DWORD error = 0;          // why verification failed: 12045, 12038, 12037 or 12157
  std::string problem;      // the verification's own words, "certificate has expired"
};

enum class TrustDecision {
  Refuse,            // the connect fails with the verification's error
  TrustAndRemember,  // the connect goes on; the trust file holds the certificate from now on
};

// The way back from a trust question: call it once, from any thread, at any time. Later calls do
// nothing. When every copy is gone unanswered, the answer is Refuse, so a question that is dropped
// (a window closed meanwhile) never holds up its connection.
class TrustAnswer {
 public:
  struct Ballot;
  explicit TrustAnswer(std::shared_ptr<Ballot> ballot);
  void operator()(TrustDecision decision) const;

 private:
  struct Voter;
  std::shared_ptr<Voter> voter_;
};

// Called on the connection's thread with the facts of a certificate that failed verification and is
// not in the trust file. It should return soon and answer later (a window asks its user on its own
// thread); the connect waits for the answer, or for its handle to be closed.
using TrustQuestion = std::function<void(const CertificateFacts& facts, TrustAnswer answer)>;

// Sets (or, with an empty question, removes) the question of a root handle from InternetOpenA, for the
// connects made from now on. A session without one never asks: an untrusted certificate fails the
// connect. FALSE with ERROR_INVALID_HANDLE or ERROR_INTERNET_INCORRECT_HANDLE_TYPE for a handle that is
// not a root.
BOOL setTrustQuestion(HINTERNET session, TrustQuestion question);

// The trust file: "nimbo/trusted-certificates" in $XDG_CONFIG_HOME, or in ~/.config when that is not
// set. One line per certificate: the host, then its SHA-256 fingerprint, then a comment.
std::filesystem::path trustFile();
// Another trust file (tests); an empty path goes back to the default.
void setTrustFile(std::filesystem::path file);
// A PEM file of authorities trusted beside the system's (tests bring their own); empty: none.
void setExtraAuthorities(std::filesystem::path pemFile);

}  // namespace inet
