// An authenticated exchange of SOAP messages with one WS-Management endpoint:
// Negotiate on the first request (and again whenever the service has
// forgotten the connection), message encryption over plain HTTP, the context
// bound to the TLS channel over HTTPS.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/network/wsman/http_transport.h"
#include "platform/network/wsman/spnego_auth.h"
#include "platform/network/credentials.h"
#include "platform/status.h"

namespace hostlore::wsman {

struct Endpoint {
  bool https = true;
  int port = 5986;
};

class WsmanSession {
 public:
  // A session with http(s)://host:port/wsman that authenticates to the
  // service HTTP/`service_host` (a host name that leads to `host`, for
  // Kerberos; empty: `host` itself); nothing is sent yet.
  static Result<std::unique_ptr<WsmanSession>> Open(const std::string& host,
                                                    const std::string& service_host,
                                                    const Endpoint& endpoint,
                                                    const NetworkCredentials& credentials,
                                                    const HttpOptions& options);

  // Made by Open.
  WsmanSession(std::string service_host, bool encrypt, NetworkCredentials credentials,
               std::unique_ptr<HttpTransport> transport);
  WsmanSession(const WsmanSession&) = delete;
  WsmanSession& operator=(const WsmanSession&) = delete;
  ~WsmanSession();

  // Sends `soap` and returns the SOAP text of the response, which may be a
  // fault (WS-Management sends faults with HTTP status 400 and 500).
  // Failure: the endpoint cannot be reached (kUnreachable), authentication
  // failed (kAuthenticationFailed), or the reply is not SOAP at all.
  Result<std::string> Exchange(std::string_view soap);

  const std::string& url() const { return transport_->url(); }
  // HTTP requests sent so far, authentication legs included.
  int round_trips() const { return round_trips_; }

 private:
  // Over HTTPS, the channel binding of the connection (see
  // tls_channel_binding.h), at the cost of one request; empty over HTTP,
  // where message encryption protects the exchange instead.
  Result<std::string> ChannelBinding();
  // Runs the Negotiate legs. Over HTTPS the legs carry `soap` and the reply
  // to the last one is returned; over HTTP they carry nothing (the message
  // must wait for the context that encrypts it) and no reply is returned.
  Result<std::optional<HttpReply>> Authenticate(std::string_view soap);
  Result<HttpReply> Send(std::string_view soap);
  Result<std::string> SoapOf(const HttpReply& reply);

  std::string service_host_;
  bool encrypt_;
  NetworkCredentials credentials_;
  std::unique_ptr<HttpTransport> transport_;
  std::unique_ptr<SpnegoContext> context_;
  int round_trips_ = 0;
};

}  // namespace hostlore::wsman
