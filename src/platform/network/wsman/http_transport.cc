#include "platform/network/wsman/http_transport.h"

#include <curl/curl.h>

#include "util/text.h"

namespace hostlore::wsman {
namespace {

// Larger replies are refused rather than buffered: the five classes of the
// inventory come to a few kilobytes, a page is bounded by the envelope size
// that requests ask for, and the text comes from the target.
constexpr size_t kMaxBodyBytes = 16 * 1024 * 1024;

struct Collected {
  HttpReply reply;
  bool too_large = false;
};

size_t CollectBody(char* data, size_t size, size_t count, void* user) {
  auto* collected = static_cast<Collected*>(user);
  const size_t bytes = size * count;
  if (collected->reply.body.size() + bytes > kMaxBodyBytes) {
    collected->too_large = true;
    return 0;  // aborts the transfer
  }
  collected->reply.body.append(data, bytes);
  return bytes;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                           text.back() == '\n')) {
    text.remove_suffix(1);
  }
  return text;
}

size_t CollectHeader(char* data, size_t size, size_t count, void* user) {
  auto* collected = static_cast<Collected*>(user);
  const std::string_view line(data, size * count);
  if (line.rfind("HTTP/", 0) == 0) {  // a new response (after 100 Continue, say)
    collected->reply.content_type.clear();
    collected->reply.negotiate_token.clear();
    return line.size();
  }
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return line.size();
  const std::string_view name = line.substr(0, colon);
  const std::string_view value = Trim(line.substr(colon + 1));
  if (EqualsIgnoreCase(name, "Content-Type")) collected->reply.content_type = std::string(value);
  if (EqualsIgnoreCase(name, "WWW-Authenticate") && value.size() >= 9 &&
      EqualsIgnoreCase(value.substr(0, 9), "Negotiate")) {
    collected->reply.negotiate_token = std::string(Trim(value.substr(9)));
  }
  return line.size();
}

struct HeaderList {
  curl_slist* list = nullptr;
  HeaderList() = default;
  HeaderList(const HeaderList&) = delete;
  HeaderList& operator=(const HeaderList&) = delete;
  ~HeaderList() { curl_slist_free_all(list); }
  void Add(const std::string& header) { list = curl_slist_append(list, header.c_str()); }
};

}  // namespace

struct HttpTransport::Handle {
  CURL* curl = nullptr;
  Handle() = default;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (curl != nullptr) curl_easy_cleanup(curl);
  }
};

HttpTransport::HttpTransport(std::string url, std::unique_ptr<Handle> handle)
    : url_(std::move(url)), handle_(std::move(handle)) {}
HttpTransport::~HttpTransport() = default;

Result<std::unique_ptr<HttpTransport>> HttpTransport::Open(const std::string& url,
                                                           const HttpOptions& options) {
  auto handle = std::make_unique<Handle>();
  handle->curl = curl_easy_init();
  if (handle->curl == nullptr) return Status::Failure(kUnreachable, "libcurl cannot start");
  CURL* curl = handle->curl;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(options.connect_timeout.count()));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(options.request_timeout.count()));
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!options.ca_file.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, options.ca_file.c_str());
  // No proxy from the environment: the target is only ever reached directly.
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, CollectHeader);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CollectBody);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "Microsoft WinRM Client");
  // The server's certificate, for channel binding.
  curl_easy_setopt(curl, CURLOPT_CERTINFO, 1L);
  return std::make_unique<HttpTransport>(url, std::move(handle));
}

Result<HttpReply> HttpTransport::Post(std::string_view content_type, std::string_view body,
                                      std::string_view authorization) {
  CURL* curl = handle_->curl;
  HeaderList headers;
  headers.Add("Content-Type: " + std::string(content_type));
  headers.Add("Expect:");  // no 100-continue round trip
  if (!authorization.empty()) headers.Add("Authorization: " + std::string(authorization));
  Collected collected;
  char error[CURL_ERROR_SIZE] = "";
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.list);
  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &collected);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &collected);
  const CURLcode code = curl_easy_perform(curl);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
  if (collected.too_large) {
    return Status::Failure(kUnreachable, url_ + ": the response is larger than " +
                                             std::to_string(kMaxBodyBytes) + " bytes");
  }
  if (code != CURLE_OK) {
    const bool certificate = code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_CACERT_BADFILE ||
                             code == CURLE_SSL_ISSUER_ERROR || code == CURLE_SSL_PINNEDPUBKEYNOTMATCH ||
                             code == CURLE_SSL_INVALIDCERTSTATUS;
    return Status::Failure(certificate ? kCertificateRejected : kUnreachable,
                           url_ + ": " + (error[0] != '\0' ? error : curl_easy_strerror(code)));
  }
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &collected.reply.status);
  return std::move(collected.reply);
}

std::string HttpTransport::ServerCertificate() const {
  curl_certinfo* info = nullptr;
  if (curl_easy_getinfo(handle_->curl, CURLINFO_CERTINFO, &info) != CURLE_OK || info == nullptr ||
      info->num_of_certs < 1) {
    return "";
  }
  // The server's own certificate comes first, then its chain.
  constexpr std::string_view kCert = "Cert:";
  for (const curl_slist* entry = info->certinfo[0]; entry != nullptr; entry = entry->next) {
    const std::string_view field = entry->data;
    if (field.substr(0, kCert.size()) == kCert) return std::string(field.substr(kCert.size()));
  }
  return "";
}

}  // namespace hostlore::wsman
