#include "platform/network/wsman/winrm_wmi.h"

#include <charconv>
#include <cstdlib>
#include <deque>
#include <optional>

#include "platform/network/wsman/wsman_envelope.h"
#include "platform/network/wsman/wsman_response.h"

namespace hostlore::wsman {
namespace {

class WinrmObject final : public WmiObject {
 public:
  explicit WinrmObject(Instance instance) : instance_(std::move(instance)) {}
  Result<WmiValue> Get(std::string_view property) override { return instance_.Get(property); }

 private:
  Instance instance_;
};

// Hands out the instances of one page and pulls the next page when the
// collector has taken them all.
class WinrmObjectSet final : public WmiObjectSet {
 public:
  WinrmObjectSet(std::shared_ptr<WsmanSession> session, int max_elements, Page first)
      : session_(std::move(session)), max_elements_(max_elements) {
    Take(std::move(first));
  }

  Result<std::unique_ptr<WmiObject>> Next() override {
    while (pending_.empty() && !ended_) {
      Result<std::string> reply = session_->Exchange(
          PullEnvelope(session_->url(), context_, max_elements_, NewMessageId()));
      Result<Page> page = reply.ok() ? ParseEnumerationResponse(reply.value())
                                     : Result<Page>(reply.status());
      if (!page.ok()) {
        ended_ = true;
        return page.status();
      }
      // A page without instances that does not end the sequence would
      // have the collector wait forever on a service that loops.
      if (page->instances.empty() && !page->end_of_sequence && ++empty_pages_ > 3) {
        ended_ = true;
        return Status::Failure(kInvalidResponse, session_->url() + ": the enumeration makes no "
                                                                   "progress");
      }
      Take(std::move(page).value());
    }
    if (pending_.empty()) return std::unique_ptr<WmiObject>();
    auto object = std::make_unique<WinrmObject>(std::move(pending_.front()));
    pending_.pop_front();
    return std::unique_ptr<WmiObject>(std::move(object));
  }

 private:
  void Take(Page page) {
    for (Instance& instance : page.instances) pending_.push_back(std::move(instance));
    ended_ = page.end_of_sequence;
    context_ = std::move(page.context);
  }

  std::shared_ptr<WsmanSession> session_;
  int max_elements_;
  std::deque<Instance> pending_;
  std::string context_;
  bool ended_ = false;
  int empty_pages_ = 0;
};

class WinrmConnection final : public WmiConnection {
 public:
  WinrmConnection(std::shared_ptr<WsmanSession> session, int max_elements)
      : session_(std::move(session)), max_elements_(max_elements) {}

  Result<std::unique_ptr<WmiObjectSet>> ExecQuery(std::string_view wql) override {
    Result<std::string> reply = session_->Exchange(
        EnumerateEnvelope(session_->url(), wql, max_elements_, NewMessageId()));
    if (!reply.ok()) return reply.status();
    Result<Page> page = ParseEnumerationResponse(reply.value());
    if (!page.ok()) return page.status();
    return std::unique_ptr<WmiObjectSet>(
        std::make_unique<WinrmObjectSet>(session_, max_elements_, std::move(page).value()));
  }

 private:
  std::shared_ptr<WsmanSession> session_;
  int max_elements_;
};

class WinrmWmi final : public Wmi {
 public:
  WinrmWmi(std::optional<WinrmOptions> options, std::shared_ptr<TargetNames> names)
      : options_(std::move(options)), names_(std::move(names)) {}

  Result<std::unique_ptr<WmiConnection>> Connect(const std::string& host) override {
    Result<WinrmOptions> options =
        options_ ? Result<WinrmOptions>(*options_) : WinrmOptionsFromEnvironment();
    if (!options.ok()) return options.status();
    Result<NetworkCredentials> credentials = LoadNetworkCredentials();
    if (!credentials.ok()) return credentials.status();
    // Kerberos authenticates to HTTP/<host name>; NTLM to whatever it is
    // given.
    const bool kerberos = credentials->kerberos;
    const std::string service_host = kerberos && names_ ? names_->NameFor(host) : host;

    // Each endpoint in turn; the failure of the last one decides the number,
    // and the description tells what happened at every one.
    Status failure = Status::Failure(kUnreachable, "No WinRM endpoint is configured");
    std::string reasons;
    for (const Endpoint& endpoint : options->endpoints) {
      Result<std::unique_ptr<WsmanSession>> session =
          WsmanSession::Open(host, service_host, endpoint, credentials.value(), options->http);
      Result<std::string> reply = session.ok() ? session.value()->Exchange(IdentifyEnvelope())
                                               : Result<std::string>(session.status());
      Status identified = reply.ok() ? ParseIdentifyResponse(reply.value()) : reply.status();
      if (identified.ok()) {
        return std::unique_ptr<WmiConnection>(std::make_unique<WinrmConnection>(
            std::shared_ptr<WsmanSession>(std::move(session).value()),
            options->max_elements));
      }
      reasons += (reasons.empty() ? "" : "; ") + identified.description();
      failure = Status::Failure(identified.number(), reasons);
      // A certificate that fails its check is what an attacker in the middle
      // presents to push a client onto plain HTTP: no further endpoint.
      if (identified.number() == kCertificateRejected) {
        return Status::Failure(kCertificateRejected,
                               reasons + "; the server certificate failed its check, so no other endpoint "
                                         "(plain HTTP) is tried");
      }
    }
    if (kerberos && IsDottedAddress(service_host) && failure.number() == kAuthenticationFailed) {
      failure = Status::Failure(
          failure.number(),
          failure.description() +
              "; Kerberos needs a host name (service principal HTTP/NAME), and no name leads to " +
              host);
    }
    return failure;
  }

 private:
  std::optional<WinrmOptions> options_;  // nullopt: from the environment
  std::shared_ptr<TargetNames> names_;   // null: authenticate to the host as given
};

}  // namespace

Result<std::vector<Endpoint>> ParseEndpoints(std::string_view text) {
  std::vector<Endpoint> endpoints;
  while (!text.empty()) {
    const size_t comma = text.find(',');
    std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    const size_t colon = item.find(':');
    Endpoint endpoint;
    const std::string_view scheme = item.substr(0, colon);
    const std::string_view port = colon == std::string_view::npos ? "" : item.substr(colon + 1);
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), endpoint.port);
    if ((scheme != "https" && scheme != "http") || ec != std::errc() ||
        end != port.data() + port.size() || endpoint.port <= 0 || endpoint.port > 65535) {
      return Status::Failure(kUnreachable, "HOSTLORE_WINRM_ENDPOINTS: \"" + std::string(item) +
                                               "\" is not https:PORT or http:PORT");
    }
    endpoint.https = scheme == "https";
    endpoints.push_back(endpoint);
  }
  if (endpoints.empty()) return Status::Failure(kUnreachable, "HOSTLORE_WINRM_ENDPOINTS is empty");
  return endpoints;
}

Result<WinrmOptions> WinrmOptionsFromEnvironment() {
  WinrmOptions options;
  if (const char* endpoints = ::secure_getenv("HOSTLORE_WINRM_ENDPOINTS"); endpoints != nullptr) {
    Result<std::vector<Endpoint>> parsed = ParseEndpoints(endpoints);
    if (!parsed.ok()) return parsed.status();
    options.endpoints = std::move(parsed).value();
  }
  if (const char* ca_file = ::secure_getenv("HOSTLORE_WINRM_CA_FILE"); ca_file != nullptr) {
    options.http.ca_file = ca_file;
  }
  return options;
}

std::unique_ptr<Wmi> NewWinrmWmi(std::shared_ptr<TargetNames> names) {
  return std::make_unique<WinrmWmi>(std::nullopt, std::move(names));
}
std::unique_ptr<Wmi> NewWinrmWmi(const WinrmOptions& options, std::shared_ptr<TargetNames> names) {
  return std::make_unique<WinrmWmi>(options, std::move(names));
}

}  // namespace hostlore::wsman
