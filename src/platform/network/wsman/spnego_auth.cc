#include "platform/network/wsman/spnego_auth.h"

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>
#include <gssapi/gssapi_krb5.h>

#include <cstring>
#include <vector>

namespace hostlore::wsman {
namespace {

gss_OID_desc kSpnegoOid = {6, const_cast<char*>("\x2b\x06\x01\x05\x05\x02")};
gss_OID_desc kKerberosOid = {9, const_cast<char*>("\x2a\x86\x48\x86\xf7\x12\x01\x02\x02")};
gss_OID_desc kNtlmOid = {10, const_cast<char*>("\x2b\x06\x01\x04\x01\x82\x37\x02\x02\x0a")};

// NTLM seals without an IOV interface; its signature is always 16 bytes and
// leads the token of gss_wrap.
constexpr size_t kNtlmSignatureSize = 16;

// The texts of a GSSAPI status, major then minor.
std::string StatusText(OM_uint32 major, OM_uint32 minor, gss_OID mech) {
  std::string text;
  auto append = [&](OM_uint32 code, int type, gss_OID oid) {
    OM_uint32 context = 0;
    do {
      OM_uint32 ignored = 0;
      gss_buffer_desc message = GSS_C_EMPTY_BUFFER;
      if (GSS_ERROR(gss_display_status(&ignored, code, type, oid, &context, &message))) break;
      if (!text.empty()) text += ": ";
      text.append(static_cast<const char*>(message.value), message.length);
      gss_release_buffer(&ignored, &message);
    } while (context != 0);
  };
  append(major, GSS_C_GSS_CODE, GSS_C_NO_OID);
  if (minor != 0) append(minor, GSS_C_MECH_CODE, mech);
  return text;
}

Status GssFailure(const std::string& what, OM_uint32 major, OM_uint32 minor,
                  gss_OID mech = GSS_C_NO_OID) {
  return Status::Failure(kAuthenticationFailed,
                         "Authentication failed (" + what + "): " + StatusText(major, minor, mech));
}

// Owns a buffer that GSSAPI allocated.
struct GssBuffer {
  gss_buffer_desc buffer = GSS_C_EMPTY_BUFFER;
  GssBuffer() = default;
  GssBuffer(const GssBuffer&) = delete;
  GssBuffer& operator=(const GssBuffer&) = delete;
  ~GssBuffer() {
    OM_uint32 minor = 0;
    gss_release_buffer(&minor, &buffer);
  }
  std::string str() const { return {static_cast<const char*>(buffer.value), buffer.length}; }
};

gss_buffer_desc View(std::string_view bytes) {
  return {bytes.size(), const_cast<char*>(bytes.data())};
}

}  // namespace

struct SpnegoContext::Handles {
  gss_name_t target = GSS_C_NO_NAME;
  gss_cred_id_t credential = GSS_C_NO_CREDENTIAL;
  gss_ctx_id_t context = GSS_C_NO_CONTEXT;
  gss_OID mech = GSS_C_NO_OID;  // the mechanism that SPNEGO settled on
  std::string channel_binding;  // empty: not bound

  Handles() = default;
  Handles(const Handles&) = delete;
  Handles& operator=(const Handles&) = delete;
  ~Handles() {
    OM_uint32 minor = 0;
    if (context != GSS_C_NO_CONTEXT) gss_delete_sec_context(&minor, &context, GSS_C_NO_BUFFER);
    if (credential != GSS_C_NO_CREDENTIAL) gss_release_cred(&minor, &credential);
    if (target != GSS_C_NO_NAME) gss_release_name(&minor, &target);
  }
};

namespace {

// SPNEGO credentials limited to one mechanism, so that a Kerberos identity
// never falls back to NTLM and an NTLM identity never tries Kerberos.
Status AcquireCredential(const NetworkCredentials& credentials, gss_cred_id_t& credential) {
  gss_OID_set_desc spnego = {1, &kSpnegoOid};
  OM_uint32 major = 0;
  OM_uint32 minor = 0;
  if (credentials.kerberos) {
    // Asked of Kerberos first so that a missing or unreadable ticket cache
    // is reported in Kerberos's own words.
    gss_OID_set_desc kerberos = {1, &kKerberosOid};
    gss_cred_id_t probe = GSS_C_NO_CREDENTIAL;
    major = gss_acquire_cred(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &kerberos, GSS_C_INITIATE,
                             &probe, nullptr, nullptr);
    if (GSS_ERROR(major)) return GssFailure("Kerberos ticket cache", major, minor, &kKerberosOid);
    gss_release_cred(&minor, &probe);
    major = gss_acquire_cred(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &spnego, GSS_C_INITIATE,
                             &credential, nullptr, nullptr);
  } else {
    const std::string user =
        credentials.domain.empty() ? credentials.username
                                   : credentials.domain + "\\" + credentials.username;
    gss_buffer_desc user_buffer = View(user);
    gss_name_t name = GSS_C_NO_NAME;
    major = gss_import_name(&minor, &user_buffer, GSS_C_NT_USER_NAME, &name);
    if (GSS_ERROR(major)) return GssFailure("user name", major, minor);
    gss_buffer_desc password = View(credentials.password);
    major = gss_acquire_cred_with_password(&minor, name, &password, GSS_C_INDEFINITE, &spnego,
                                           GSS_C_INITIATE, &credential, nullptr, nullptr);
    OM_uint32 ignored = 0;
    gss_release_name(&ignored, &name);
  }
  if (GSS_ERROR(major)) return GssFailure("credentials", major, minor);
  gss_OID_set_desc only = {1, credentials.kerberos ? &kKerberosOid : &kNtlmOid};
  major = gss_set_neg_mechs(&minor, credential, &only);
  if (GSS_ERROR(major)) return GssFailure("mechanism", major, minor);
  return Status::Ok();
}

}  // namespace

SpnegoContext::SpnegoContext(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}
SpnegoContext::~SpnegoContext() = default;

Result<std::unique_ptr<SpnegoContext>> SpnegoContext::Start(const std::string& host,
                                                            const NetworkCredentials& credentials,
                                                            std::string channel_binding) {
  auto handles = std::make_unique<Handles>();
  handles->channel_binding = std::move(channel_binding);
  const std::string service = "HTTP@" + host;
  gss_buffer_desc service_buffer = View(service);
  OM_uint32 minor = 0;
  OM_uint32 major =
      gss_import_name(&minor, &service_buffer, GSS_C_NT_HOSTBASED_SERVICE, &handles->target);
  if (GSS_ERROR(major)) return GssFailure("service name", major, minor);
  if (Status acquired = AcquireCredential(credentials, handles->credential); !acquired.ok()) {
    return acquired;
  }
  return std::make_unique<SpnegoContext>(std::move(handles));
}

Result<std::string> SpnegoContext::Step(std::string_view service_token) {
  gss_buffer_desc input = View(service_token);
  GssBuffer output;
  OM_uint32 minor = 0;
  gss_OID actual = GSS_C_NO_OID;
  // No addresses, as Windows binds: only the application data counts.
  gss_channel_bindings_struct bindings = {};
  bindings.initiator_addrtype = GSS_C_AF_UNSPEC;
  bindings.acceptor_addrtype = GSS_C_AF_UNSPEC;
  bindings.application_data = View(handles_->channel_binding);
  const OM_uint32 major = gss_init_sec_context(
      &minor, handles_->credential, &handles_->context, handles_->target, &kSpnegoOid,
      GSS_C_MUTUAL_FLAG | GSS_C_CONF_FLAG | GSS_C_INTEG_FLAG, GSS_C_INDEFINITE,
      handles_->channel_binding.empty() ? GSS_C_NO_CHANNEL_BINDINGS : &bindings,
      service_token.empty() ? GSS_C_NO_BUFFER : &input, &actual, &output.buffer, nullptr, nullptr);
  if (GSS_ERROR(major)) return GssFailure("security context", major, minor, actual);
  handles_->mech = actual;
  established_ = major == GSS_S_COMPLETE;
  return output.str();
}

Result<Sealed> SpnegoContext::Seal(std::string_view plain) {
  OM_uint32 minor = 0;
  // Kerberos: header, data and padding apart, as Windows expects them.
  std::vector<char> data(plain.begin(), plain.end());
  gss_iov_buffer_desc iov[3] = {};
  iov[0].type = GSS_IOV_BUFFER_TYPE_HEADER | GSS_IOV_BUFFER_FLAG_ALLOCATE;
  iov[1].type = GSS_IOV_BUFFER_TYPE_DATA;
  iov[1].buffer = {data.size(), data.data()};
  iov[2].type = GSS_IOV_BUFFER_TYPE_PADDING | GSS_IOV_BUFFER_FLAG_ALLOCATE;
  OM_uint32 major = gss_wrap_iov(&minor, handles_->context, 1, GSS_C_QOP_DEFAULT, nullptr, iov, 3);
  if (major == GSS_S_COMPLETE) {
    Sealed sealed;
    sealed.header.assign(static_cast<const char*>(iov[0].buffer.value), iov[0].buffer.length);
    sealed.data.assign(data.begin(), data.end());
    sealed.data.append(static_cast<const char*>(iov[2].buffer.value), iov[2].buffer.length);
    gss_release_iov_buffer(&minor, iov, 3);
    return sealed;
  }
  gss_release_iov_buffer(&minor, iov, 3);
  if (major != GSS_S_UNAVAILABLE) return GssFailure("sealing", major, minor, handles_->mech);

  // NTLM: one token, its signature first.
  gss_buffer_desc input = View(plain);
  GssBuffer output;
  int encrypted = 0;
  major = gss_wrap(&minor, handles_->context, 1, GSS_C_QOP_DEFAULT, &input, &encrypted,
                   &output.buffer);
  if (GSS_ERROR(major)) return GssFailure("sealing", major, minor, handles_->mech);
  if (!encrypted || output.buffer.length < kNtlmSignatureSize) {
    return Status::Failure(kAuthenticationFailed, "The security context cannot encrypt messages");
  }
  const std::string token = output.str();
  return Sealed{token.substr(0, kNtlmSignatureSize), token.substr(kNtlmSignatureSize)};
}

Result<std::string> SpnegoContext::Unseal(std::string_view header, std::string_view data) {
  OM_uint32 minor = 0;
  std::vector<char> header_copy(header.begin(), header.end());
  std::vector<char> data_copy(data.begin(), data.end());
  gss_iov_buffer_desc iov[2] = {};
  iov[0].type = GSS_IOV_BUFFER_TYPE_HEADER;
  iov[0].buffer = {header_copy.size(), header_copy.data()};
  iov[1].type = GSS_IOV_BUFFER_TYPE_DATA;
  iov[1].buffer = {data_copy.size(), data_copy.data()};
  int encrypted = 0;
  OM_uint32 major =
      gss_unwrap_iov(&minor, handles_->context, &encrypted, nullptr, iov, 2);
  if (major == GSS_S_COMPLETE && encrypted) {
    return std::string(static_cast<const char*>(iov[1].buffer.value), iov[1].buffer.length);
  }
  if (major != GSS_S_UNAVAILABLE) {
    if (!GSS_ERROR(major)) major = GSS_S_BAD_SIG;
    return GssFailure("unsealing", major, minor, handles_->mech);
  }

  std::string token(header);
  token.append(data);
  gss_buffer_desc input = View(token);
  GssBuffer output;
  major = gss_unwrap(&minor, handles_->context, &input, &output.buffer, &encrypted, nullptr);
  if (GSS_ERROR(major)) return GssFailure("unsealing", major, minor, handles_->mech);
  if (!encrypted) {
    return Status::Failure(kAuthenticationFailed, "The service sent an unencrypted message");
  }
  return output.str();
}

}  // namespace hostlore::wsman
