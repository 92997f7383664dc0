// HTTP(S) POSTs to one WS-Management endpoint through libcurl, over one
// connection that is kept open between requests: Negotiate authenticates the
// connection, not the request, so the connection must outlive a request.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace hostlore::wsman {

// HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE): the endpoint could not be
// reached, or the exchange broke off.
inline constexpr int64_t kUnreachable = 0x800706BA;

// HRESULT_FROM_WIN32(ERROR_WINHTTP_SECURE_FAILURE): the server's certificate
// failed its check (untrusted, expired, another name), or could not be
// checked at all (the CA file cannot be read).
inline constexpr int64_t kCertificateRejected = 0x80072F8F;

struct HttpOptions {
  std::chrono::milliseconds connect_timeout{5000};
  // For a whole request and its response.
  std::chrono::milliseconds request_timeout{60000};
  // PEM file of the certificate authorities that HTTPS trusts; empty: the
  // system's trust store.
  std::string ca_file;
};

struct HttpReply {
  long status = 0;
  std::string content_type;
  // The token of the last "WWW-Authenticate: Negotiate <token>" header, in
  // base64; empty when there was none or it carried no token.
  std::string negotiate_token;
  std::string body;
};

class HttpTransport {
 public:
  // A transport for `url` (http://HOST:PORT/wsman or https://...); nothing
  // is sent until the first Post.
  static Result<std::unique_ptr<HttpTransport>> Open(const std::string& url,
                                                     const HttpOptions& options);

  struct Handle;
  // Made by Open.
  HttpTransport(std::string url, std::unique_ptr<Handle> handle);
  HttpTransport(const HttpTransport&) = delete;
  HttpTransport& operator=(const HttpTransport&) = delete;
  ~HttpTransport();

  // POSTs `body`, with "Authorization: <authorization>" when that is not
  // empty. Any HTTP status is a reply. Failure: kCertificateRejected, or
  // kUnreachable for no connection, a time-out, another TLS failure, or a
  // connection that broke off.
  Result<HttpReply> Post(std::string_view content_type, std::string_view body,
                         std::string_view authorization);

  // The PEM text of the certificate that the server presented when the
  // connection of the last Post was opened; empty over plain HTTP, before
  // the first Post, or when libcurl's TLS library does not tell.
  std::string ServerCertificate() const;

  const std::string& url() const { return url_; }

 private:
  std::string url_;
  std::unique_ptr<Handle> handle_;
};

}  // namespace hostlore::wsman
