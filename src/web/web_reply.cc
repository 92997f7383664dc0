#include "web/web_reply.h"

#include "util/escape.h"

namespace hostlore {

WebReply ErrorReply(int status, std::string_view message, ReplyFormat format) {
  WebReply reply;
  reply.status = status;
  if (format == ReplyFormat::kJson) {
    reply.content_type = "application/json";
    reply.body = JsonText(nlohmann::ordered_json{{"status", status}, {"error", std::string(message)}}) + "\n";
    return reply;
  }
  if (format == ReplyFormat::kCsv) {
    reply.content_type = "text/plain; charset=utf-8";
    reply.body = Escape(message, EscapeFor::kTerminal) + "\n";
    return reply;
  }
  const char* title = status == 400 ? "Bad request" : status == 404 ? "Not found" : "Not available";
  reply.body = RenderPage({title, "", "<p class=\"error\">" + Html(message) + "</p>\n", ""});
  return reply;
}

WebReply JsonReply(const nlohmann::ordered_json& value) {
  WebReply reply;
  reply.content_type = "application/json";
  reply.body = JsonText(value) + "\n";
  return reply;
}

std::string Footer(const PageContext& context) {
  std::string footer = "Stale: not reached for " + std::to_string(context.stale_days) + " days. ";
  footer += context.refreshed ? "Fleet index read " + Html(*context.refreshed) + "." : "Fleet index not read yet.";
  return footer;
}

}  // namespace hostlore
