#include "tls_certificate.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>

namespace inet {
namespace {

struct BioFree {
  void operator()(BIO* b) const { BIO_free(b); }
};

std::string nameText(const X509_NAME* name) {
  if (!name) return {};
  std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
  if (!bio) return {};
  // RFC 2253 order and escaping, but UTF-8 left as it is: the user reads it.
  X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return size > 0 ? std::string(data, static_cast<size_t>(size)) : std::string();
}

std::string timeText(const ASN1_TIME* time) {
  tm t{};
  if (!time || ASN1_TIME_to_tm(time, &t) != 1) return {};
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d UTC", t.tm_year + 1900, t.tm_mon + 1,
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

enum class Kind { Authority, Dates, Name, Other };

Kind kindOf(int problem) {
  switch (problem) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_INVALID_CA:
      return Kind::Authority;
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
      return Kind::Dates;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return Kind::Name;
    default:
      return Kind::Other;
  }
}

DWORD errorOf(Kind kind) {
  switch (kind) {
    case Kind::Authority:
      return ERROR_INTERNET_INVALID_CA;
    case Kind::Dates:
      return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
    case Kind::Name:
      return ERROR_INTERNET_SEC_CERT_CN_INVALID;
    case Kind::Other:
      break;
  }
  return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
}

}  // namespace

std::string fingerprintOf(X509* certificate) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!certificate || X509_digest(certificate, EVP_sha256(), digest, &length) != 1) return {};
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    if (i) text += ':';
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 15];
  }
  return text;
}

CertificateFacts certificateFacts(X509* certificate) {
  CertificateFacts facts;
  if (!certificate) return facts;
  facts.subject = nameText(X509_get_subject_name(certificate));
  facts.issuer = nameText(X509_get_issuer_name(certificate));
  facts.validFrom = timeText(X509_get0_notBefore(certificate));
  facts.validUntil = timeText(X509_get0_notAfter(certificate));
  facts.fingerprint = fingerprintOf(certificate);
  return facts;
}

DWORD Verdict::error() const {
  if (problems.empty()) return ERROR_SUCCESS;
  Kind worst = Kind::Other;
  for (int p : problems)
    if (kindOf(p) < worst) worst = kindOf(p);
  return errorOf(worst);
}

std::string Verdict::text() const {
  const DWORD reported = error();
  for (int p : problems)
    if (errorOf(kindOf(p)) == reported) return X509_verify_cert_error_string(p);
  return {};
}

}  // namespace inet
