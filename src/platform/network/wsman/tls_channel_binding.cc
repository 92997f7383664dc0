#include "platform/network/wsman/tls_channel_binding.h"

#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

#include "platform/network/wsman/spnego_auth.h"

namespace hostlore::wsman {
namespace {

struct FreeBio {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct FreeX509 {
  void operator()(X509* certificate) const { X509_free(certificate); }
};

Status NotACertificate() {
  return Status::Failure(kAuthenticationFailed,
                         "The service's certificate cannot be read for channel binding");
}

}  // namespace

Result<std::string> TlsServerEndPoint(std::string_view pem) {
  std::unique_ptr<BIO, FreeBio> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) return NotACertificate();
  std::unique_ptr<X509, FreeX509> certificate(
      PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  if (!certificate) return NotACertificate();

  int digest_nid = NID_undef;
  if (X509_get_signature_info(certificate.get(), &digest_nid, nullptr, nullptr, nullptr) != 1 ||
      digest_nid == NID_undef || digest_nid == NID_md5 || digest_nid == NID_sha1) {
    digest_nid = NID_sha256;
  }
  const EVP_MD* digest = EVP_get_digestbynid(digest_nid);
  if (digest == nullptr) digest = EVP_sha256();
  unsigned char hash[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (X509_digest(certificate.get(), digest, hash, &length) != 1) return NotACertificate();
  return "tls-server-end-point:" + std::string(reinterpret_cast<const char*>(hash), length);
}

}  // namespace hostlore::wsman
