#include "platform/network/wsman/wsman_session.h"

#include <optional>

#include "platform/network/wsman/base64.h"
#include "platform/network/wsman/http_encryption.h"
#include "platform/network/wsman/tls_channel_binding.h"
#include "platform/network/wsman/wsman_response.h"

namespace hostlore::wsman {
namespace {

// Kerberos needs one leg, NTLM two; more means that something loops.
constexpr int kMaxLegs = 4;

Status Refused(const std::string& url, const std::string& why) {
  return Status::Failure(kAuthenticationFailed, url + ": access is denied (" + why + ")");
}

bool IsSoap(const HttpReply& reply) {
  return reply.content_type.find("application/soap+xml") != std::string::npos ||
         reply.body.find("Envelope") != std::string::npos;
}

}  // namespace

WsmanSession::WsmanSession(std::string service_host, bool encrypt,
                           NetworkCredentials credentials,
                           std::unique_ptr<HttpTransport> transport)
    : service_host_(std::move(service_host)),
      encrypt_(encrypt),
      credentials_(std::move(credentials)),
      transport_(std::move(transport)) {}
WsmanSession::~WsmanSession() = default;

Result<std::unique_ptr<WsmanSession>> WsmanSession::Open(const std::string& host,
                                                         const std::string& service_host,
                                                         const Endpoint& endpoint,
                                                         const NetworkCredentials& credentials,
                                                         const HttpOptions& options) {
  const std::string literal = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  const std::string url = std::string(endpoint.https ? "https" : "http") + "://" + literal + ":" +
                          std::to_string(endpoint.port) + "/wsman";
  Result<std::unique_ptr<HttpTransport>> transport = HttpTransport::Open(url, options);
  if (!transport.ok()) return transport.status();
  return std::make_unique<WsmanSession>(service_host.empty() ? host : service_host,
                                        !endpoint.https, credentials,
                                        std::move(transport).value());
}

Result<std::string> WsmanSession::ChannelBinding() {
  if (encrypt_) return std::string();
  // The certificate is known once a request has opened the connection; this
  // one carries no credentials and is refused.
  Result<HttpReply> opened = transport_->Post(kSoapContentType, "", "");
  ++round_trips_;
  if (!opened.ok()) return opened.status();
  const std::string pem = transport_->ServerCertificate();
  if (pem.empty()) return std::string();  // a TLS library that does not tell: unbound
  return TlsServerEndPoint(pem);
}

Result<std::optional<HttpReply>> WsmanSession::Authenticate(std::string_view soap) {
  context_.reset();
  Result<std::string> binding = ChannelBinding();
  if (!binding.ok()) return binding.status();
  Result<std::unique_ptr<SpnegoContext>> started =
      SpnegoContext::Start(service_host_, credentials_, std::move(binding).value());
  if (!started.ok()) return started.status();
  std::unique_ptr<SpnegoContext> context = std::move(started).value();
  const std::string_view body = encrypt_ ? std::string_view() : soap;

  std::string service_token;
  for (int leg = 0; leg < kMaxLegs; ++leg) {
    Result<std::string> token = context->Step(service_token);
    if (!token.ok()) return token.status();
    Result<HttpReply> reply =
        transport_->Post(kSoapContentType, body, "Negotiate " + EncodeBase64(token.value()));
    ++round_trips_;
    if (!reply.ok()) return reply.status();
    std::optional<std::string> decoded = DecodeBase64(reply->negotiate_token);
    if (!decoded) return Refused(url(), "the service sent a token that is not base64");
    service_token = std::move(*decoded);
    if (reply->status == 401) {
      if (service_token.empty() || context->established()) {
        return Refused(url(), "the service rejected the credentials");
      }
      continue;
    }
    // The service accepted; with Kerberos its last token proves who it is.
    if (!context->established()) {
      if (service_token.empty()) return Refused(url(), "the service did not authenticate itself");
      Result<std::string> last = context->Step(service_token);
      if (!last.ok()) return last.status();
      if (!context->established()) return Refused(url(), "the handshake did not complete");
    }
    context_ = std::move(context);
    if (encrypt_) return std::optional<HttpReply>();
    return std::optional<HttpReply>(std::move(reply).value());
  }
  return Refused(url(), "the handshake did not complete");
}

Result<HttpReply> WsmanSession::Send(std::string_view soap) {
  Result<HttpReply> reply = [&]() -> Result<HttpReply> {
    if (!encrypt_) return transport_->Post(kSoapContentType, soap, "");
    Result<std::string> sealed = EncryptBody(*context_, soap);
    if (!sealed.ok()) return sealed.status();
    return transport_->Post(kEncryptedContentType, sealed.value(), "");
  }();
  ++round_trips_;
  return reply;
}

Result<std::string> WsmanSession::SoapOf(const HttpReply& reply) {
  if (IsEncryptedContent(reply.content_type)) {
    if (!context_) return Refused(url(), "an encrypted reply without a security context");
    Result<std::string> plain = DecryptBody(*context_, reply.body);
    if (!plain.ok()) return plain.status();
    if (reply.status == 200 || reply.status == 400 || reply.status == 500) return plain;
  } else if (encrypt_ && reply.status == 200) {
    return Refused(url(), "the service answered without encryption");
  } else if ((reply.status == 200 || reply.status == 400 || reply.status == 500) &&
             IsSoap(reply)) {
    return reply.body;
  }
  return Status::Failure(kInvalidResponse,
                         url() + ": the service answered with HTTP status " +
                             std::to_string(reply.status));
}

Result<std::string> WsmanSession::Exchange(std::string_view soap) {
  // A second try only when the service has forgotten the connection's
  // context (it answers 401 to a request that the context covered).
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::optional<HttpReply> reply;
    if (!context_) {
      Result<std::optional<HttpReply>> authenticated = Authenticate(soap);
      if (!authenticated.ok()) return authenticated.status();
      reply = std::move(authenticated).value();
    }
    if (!reply) {
      Result<HttpReply> sent = Send(soap);
      if (!sent.ok()) return sent.status();
      reply = std::move(sent).value();
    }
    if (reply->status == 401 && attempt == 0) {
      context_.reset();
      continue;
    }
    if (reply->status == 401) return Refused(url(), "the service rejected the credentials");
    return SoapOf(*reply);
  }
  return Refused(url(), "the service rejected the credentials");
}

}  // namespace hostlore::wsman
