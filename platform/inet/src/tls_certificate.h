// What a server's certificate says (subject, issuer, validity, fingerprint) and what its verification
// found, as WinINet's numbers.
#pragma once

#include <openssl/x509.h>

#include <string>
#include <vector>

#include "inet/certificates.h"

namespace inet {

// Facts of a certificate; host, port and error are the caller's to fill.
CertificateFacts certificateFacts(X509* certificate);
// "3F:A2:..." (SHA-256 of the DER form), or "" when it cannot be computed.
std::string fingerprintOf(X509* certificate);

// Every problem the verification met (X509_V_ERR_*), in the order met.
struct Verdict {
  std::vector<int> problems;

  bool trusted() const { return problems.empty(); }
  // The one error a caller is told: an unknown authority first (nothing else about the certificate
  // means much then), then its dates, then its name; anything else is a failed secure channel.
  DWORD error() const;
  // The verification's words for the problem error() reports.
  std::string text() const;
};

}  // namespace inet
