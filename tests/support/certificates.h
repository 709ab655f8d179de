// Certificates for the TLS tests, made by the tests themselves (OpenSSL's API) into a temporary folder
// once per test process: an authority of the tests, and server certificates it signed, good and bad.
//
//   const auto& certs = testsupport::testCertificates();
//   inet::setExtraAuthorities(certs.authority);      // the layer trusts the tests' authority
//   auto server = testsupport::startVsftpd({.tls = testsupport::Tls::Explicit});  // shows certs.server
//
// Every server file is a PEM holding the certificate and then its private key, the form vsftpd,
// pyftpdlib and the scripted server take.
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

struct TestCertificates {
  std::filesystem::path authority;  // the tests' authority (certificate only)
  std::filesystem::path server;     // for 127.0.0.1, ::1 and localhost, valid now, by the authority
  std::filesystem::path otherName;  // for "other.invalid" only, valid now, by the authority
  std::filesystem::path expired;    // for 127.0.0.1 and localhost, expired a day ago, by the authority
  std::filesystem::path unknown;  // for 127.0.0.1 and localhost, valid, signed by an authority nobody trusts
  std::filesystem::path selfSigned;  // for 127.0.0.1 and localhost, valid, signed by itself
  std::string serverFingerprint;     // SHA-256 of each, "3F:A2:..."
  std::string unknownFingerprint;
  std::string selfSignedFingerprint;
};

// Made at the first call (about 50 ms), removed when the process ends.
const TestCertificates& testCertificates();

}  // namespace testsupport
