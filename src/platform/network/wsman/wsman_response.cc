#include "platform/network/wsman/wsman_response.h"

#include <charconv>
#include <cstring>
#include <optional>
#include <set>

#include <pugixml.hpp>

#include "util/text.h"

namespace hostlore::wsman {
namespace {

// Element and attribute names are matched by local name: services choose
// their own prefixes, and the names used here are unambiguous within the
// envelopes that WS-Management defines.
std::string_view LocalName(const char* qualified) {
  const char* colon = std::strrchr(qualified, ':');
  return colon != nullptr ? std::string_view(colon + 1) : std::string_view(qualified);
}

pugi::xml_node Child(pugi::xml_node parent, std::string_view local) {
  for (pugi::xml_node child : parent.children()) {
    if (child.type() == pugi::node_element && LocalName(child.name()) == local) return child;
  }
  return {};
}

// How deep the readers below look. The envelopes of WS-Management nest a
// dozen levels at most; a deeper document is the target's doing and must
// not exhaust the stack.
constexpr int kMaxDepth = 32;

// The first element named `local` below `parent` (within kMaxDepth levels),
// in document order.
pugi::xml_node Descendant(pugi::xml_node parent, std::string_view local, int depth = 0) {
  if (depth >= kMaxDepth) return {};
  for (pugi::xml_node child : parent.children()) {
    if (child.type() != pugi::node_element) continue;
    if (LocalName(child.name()) == local) return child;
    if (pugi::xml_node found = Descendant(child, local, depth + 1)) return found;
  }
  return {};
}

// All character data below `node` (within kMaxDepth levels), in document
// order: a datetime, for instance, arrives as a nested element.
void AppendText(pugi::xml_node node, std::string& text, int depth = 0) {
  if (depth >= kMaxDepth) return;
  for (pugi::xml_node child : node.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
      text += child.value();
    } else if (child.type() == pugi::node_element) {
      AppendText(child, text, depth + 1);
    }
  }
}

std::string TextOf(pugi::xml_node node) {
  std::string text;
  AppendText(node, text);
  return text;
}

std::string Trimmed(std::string text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  const size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

bool IsNil(pugi::xml_node node) {
  for (pugi::xml_attribute attribute : node.attributes()) {
    if (LocalName(attribute.name()) == "nil") {
      const std::string_view value = attribute.value();
      return value == "true" || value == "1";
    }
  }
  return false;
}

// A fault code as WS-Management writes it: an unsigned decimal HRESULT or
// Win32 code (a signed one is taken as its 32-bit pattern).
std::optional<int64_t> ParseCode(std::string_view text) {
  int64_t code = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), code);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (code < -2147483648LL || code > 0xFFFFFFFFLL) return std::nullopt;
  return code < 0 ? code + 0x100000000LL : code;
}

// The failure that a fault stands for. The innermost WSManFault is the one
// that the WMI provider raised and carries the WMI error code; the outer one
// carries the WS-Management code.
Status FaultStatus(pugi::xml_node fault) {
  std::optional<int64_t> number;
  std::string message;
  int nesting = 0;
  for (pugi::xml_node node = Descendant(fault, "WSManFault"); node && nesting < kMaxDepth;
       node = Descendant(node, "WSManFault"), ++nesting) {
    if (std::optional<int64_t> code = ParseCode(node.attribute("Code").value())) number = code;
    if (pugi::xml_node text = Child(node, "Message")) {
      if (!Child(text, "ProviderFault")) message = Trimmed(TextOf(text));
    }
  }
  std::string reason = Trimmed(TextOf(Descendant(Child(fault, "Reason"), "Text")));
  if (reason.empty()) reason = message;
  if (reason.empty()) reason = "The WS-Management service returned a fault.";
  return Status::Failure(number.value_or(kUnspecifiedFault), std::move(reason));
}

Status Invalid(const std::string& why) {
  return Status::Failure(kInvalidResponse,
                         "The WS-Management service sent a response that cannot be read: " + why);
}

// The body of a parsed envelope; a fault in it becomes `failure`.
pugi::xml_node Body(const pugi::xml_document& doc, Status& failure) {
  pugi::xml_node envelope = doc.document_element();
  if (LocalName(envelope.name()) != "Envelope") {
    failure = Invalid("no SOAP envelope");
    return {};
  }
  pugi::xml_node body = Child(envelope, "Body");
  if (!body) {
    failure = Invalid("no SOAP body");
    return {};
  }
  if (pugi::xml_node fault = Child(body, "Fault")) {
    failure = FaultStatus(fault);
    return {};
  }
  return body;
}

Result<pugi::xml_node> Parse(pugi::xml_document& doc, std::string_view xml) {
  const pugi::xml_parse_result parsed =
      doc.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_utf8);
  if (!parsed) return Invalid(std::string("not XML (") + parsed.description() + ")");
  Status failure;
  pugi::xml_node body = Body(doc, failure);
  if (!failure.ok()) return failure;
  return body;
}

Instance ReadInstance(pugi::xml_node element) {
  Instance instance;
  instance.class_name = std::string(LocalName(element.name()));
  std::set<std::string_view> seen;
  for (pugi::xml_node property : element.children()) {
    if (property.type() != pugi::node_element) continue;
    // An array property repeats its element; the first value stands for it.
    if (!seen.insert(LocalName(property.name())).second) continue;
    std::string name(LocalName(property.name()));
    WmiValue value;
    if (!IsNil(property)) value.value = TextOf(property);
    instance.properties.emplace_back(std::move(name), std::move(value));
  }
  return instance;
}

}  // namespace

Result<WmiValue> Instance::Get(std::string_view property) const {
  for (const auto& [name, value] : properties) {
    if (EqualsIgnoreCase(name, property)) return value;
  }
  return Status::Failure(kWbemNotFound, "Not found");
}

Result<Page> ParseEnumerationResponse(std::string_view xml) {
  pugi::xml_document doc;
  Result<pugi::xml_node> body = Parse(doc, xml);
  if (!body.ok()) return body.status();
  pugi::xml_node response = Child(body.value(), "EnumerateResponse");
  if (!response) response = Child(body.value(), "PullResponse");
  if (!response) return Invalid("neither an EnumerateResponse nor a PullResponse");

  Page page;
  page.context = Trimmed(TextOf(Child(response, "EnumerationContext")));
  page.end_of_sequence = static_cast<bool>(Child(response, "EndOfSequence"));
  for (pugi::xml_node item : Child(response, "Items").children()) {
    if (item.type() == pugi::node_element) page.instances.push_back(ReadInstance(item));
  }
  if (!page.end_of_sequence && page.context.empty()) {
    return Invalid("the enumeration goes on but names no context");
  }
  return page;
}

Status ParseIdentifyResponse(std::string_view xml) {
  pugi::xml_document doc;
  Result<pugi::xml_node> body = Parse(doc, xml);
  if (!body.ok()) return body.status();
  if (!Child(body.value(), "IdentifyResponse")) return Invalid("no IdentifyResponse");
  return Status::Ok();
}

}  // namespace hostlore::wsman
