// The file of certificates the user chose to trust, one per line:
//
//   # comment
//   <host> <SHA-256 fingerprint> [# subject, valid until]
//
// A certificate is trusted for the host it was shown for, not for every server: a user who once
// accepted a stranger's certificate for one server has not accepted it for all others. The file is read
// at each connect (another process may have added to it) and rewritten whole under a lock, through a
// temporary file renamed over it, so that a crash or a second writer never leaves half a file.
#pragma once

#include <filesystem>
#include <string_view>

#include "inet/certificates.h"
#include "outcome.h"

namespace inet {

class TrustStore {
 public:
  explicit TrustStore(std::filesystem::path file) : file_(std::move(file)) {}
  // The store in use now (setTrustFile, else the user's configuration folder).
  static TrustStore current();

  const std::filesystem::path& file() const { return file_; }
  bool trusts(std::string_view host, std::string_view fingerprint) const;
  // Adds the certificate for facts.host; the folder is made (0700) and the file written 0600.
  Outcome remember(const CertificateFacts& facts) const;

 private:
  std::filesystem::path file_;
};

}  // namespace inet
