#include "certificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testsupport {
namespace {

struct KeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CertFree {
  void operator()(X509* c) const { X509_free(c); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

Key newKey() {
  // P-256: quick to make, and every server here takes it.
  Key key(EVP_EC_gen("P-256"));
  if (!key) throw std::runtime_error("cannot make a test key");
  return key;
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  if (!ext) throw std::runtime_error("cannot make a certificate extension");
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

struct CertificateFields {
  std::string commonName;
  std::string altNames;  // "IP:127.0.0.1,DNS:localhost"; empty for an authority
  long notBeforeDays;    // from now
  long notAfterDays;
  bool authority = false;
};

// Signed by issuer (its certificate and key), or by itself when issuer is null.
Cert makeCertificate(const CertificateFields& fields, EVP_PKEY* key, X509* issuerCert, EVP_PKEY* issuerKey) {
  static long serial = 1;
  Cert cert(X509_new());
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial++ + ::getpid() * 100L);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), fields.notBeforeDays * 86400);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), fields.notAfterDays * 86400);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("nimbo tests"),
                             -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(fields.commonName.c_str()), -1, -1, 0);
  X509* signer = issuerCert ? issuerCert : cert.get();
  X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
  if (fields.authority) {
    addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
    addExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
    addExtension(cert.get(), signer, NID_subject_alt_name, fields.altNames.c_str());
  }
  addExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
  if (X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) == 0)
    throw std::runtime_error("cannot sign a test certificate");
  return cert;
}

void writePem(const fs::path& file, X509* cert, EVP_PKEY* key) {
  FILE* out = std::fopen(file.c_str(), "w");
  if (!out) throw std::runtime_error("cannot write " + file.string());
  PEM_write_X509(out, cert);
  if (key) PEM_write_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(out);
  // Servers that drop to another user before they read it must still be able to.
  ::chmod(file.c_str(), 0644);
}

std::string fingerprint(X509* cert) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  X509_digest(cert, EVP_sha256(), digest, &length);
  std::string text;
  char pair[4];
  for (unsigned int i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof pair, i ? ":%02X" : "%02X", digest[i]);
    text += pair;
  }
  return text;
}

struct Folder {
  fs::path path;
  ~Folder() {
    std::error_code ec;
    if (!path.empty()) fs::remove_all(path, ec);
  }
};

TestCertificates make(Folder& folder) {
  std::string pattern = (fs::temp_directory_path() / "nimbo-certs-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a folder for test certificates");
  folder.path = pattern;
  ::chmod(pattern.c_str(), 0755);

  const std::string local = "IP:127.0.0.1,IP:::1,DNS:localhost";
  Key caKey = newKey();
  Cert ca = makeCertificate({"nimbo test authority", "", -1, 3650, true}, caKey.get(), nullptr, nullptr);
  Key strangerKey = newKey();
  Cert stranger = makeCertificate({"an authority nobody trusts", "", -1, 3650, true}, strangerKey.get(),
                                  nullptr, nullptr);
  Key key = newKey();

  TestCertificates c;
  c.authority = folder.path / "authority.pem";
  writePem(c.authority, ca.get(), nullptr);

  Cert server = makeCertificate({"127.0.0.1", local, -1, 365}, key.get(), ca.get(), caKey.get());
  c.server = folder.path / "server.pem";
  writePem(c.server, server.get(), key.get());
  c.serverFingerprint = fingerprint(server.get());

  Cert other =
      makeCertificate({"other.invalid", "DNS:other.invalid", -1, 365}, key.get(), ca.get(), caKey.get());
  c.otherName = folder.path / "other-name.pem";
  writePem(c.otherName, other.get(), key.get());

  Cert expired = makeCertificate({"127.0.0.1", local, -30, -1}, key.get(), ca.get(), caKey.get());
  c.expired = folder.path / "expired.pem";
  writePem(c.expired, expired.get(), key.get());

  Cert unknown = makeCertificate({"127.0.0.1", local, -1, 365}, key.get(), stranger.get(), strangerKey.get());
  c.unknown = folder.path / "unknown-authority.pem";
  writePem(c.unknown, unknown.get(), key.get());
  c.unknownFingerprint = fingerprint(unknown.get());

  Cert self = makeCertificate({"127.0.0.1", local, -1, 365}, key.get(), nullptr, nullptr);
  c.selfSigned = folder.path / "self-signed.pem";
  writePem(c.selfSigned, self.get(), key.get());
  c.selfSignedFingerprint = fingerprint(self.get());
  return c;
}

}  // namespace

const TestCertificates& testCertificates() {
  static Folder folder;
  static const TestCertificates certificates = make(folder);
  return certificates;
}

}  // namespace testsupport
