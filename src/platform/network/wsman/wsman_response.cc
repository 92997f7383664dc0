#include "platform/network/wsman/wsman_response.h"

#include <charconv>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <vector>

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

std::string_view Prefix(const char* qualified) {
  const char* colon = std::strrchr(qualified, ':');
  return colon != nullptr ? std::string_view(qualified, colon - qualified) : std::string_view();
}

// Namespace prefixes ("" for the default namespace) and the URIs they stand
// for.
using Namespaces = std::map<std::string, std::string, std::less<>>;

// Adds the declarations made on `node` to `scope`, replacing outer ones.
void Declare(pugi::xml_node node, Namespaces& scope) {
  for (pugi::xml_attribute attribute : node.attributes()) {
    const std::string_view name = attribute.name();
    if (name == "xmlns") {
      scope[""] = attribute.value();
    } else if (name.substr(0, 6) == "xmlns:") {
      scope[std::string(name.substr(6))] = attribute.value();
    }
  }
}

// The declarations in force at `node`: its own and its ancestors'.
Namespaces InScope(pugi::xml_node node) {
  std::vector<pugi::xml_node> chain;
  for (; node && node.type() == pugi::node_element; node = node.parent()) chain.push_back(node);
  Namespaces scope;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) Declare(*it, scope);
  return scope;
}

// The namespace URI of `node`'s name: a declaration on the node itself, else
// the first of `scopes` (innermost first) that binds its prefix, else empty.
std::string_view NamespaceOf(pugi::xml_node node, std::initializer_list<const Namespaces*> scopes) {
  const std::string_view prefix = Prefix(node.name());
  for (pugi::xml_attribute attribute : node.attributes()) {
    const std::string_view name = attribute.name();
    if (prefix.empty() ? name == "xmlns"
                       : name.substr(0, 6) == "xmlns:" && name.substr(6) == prefix) {
      return attribute.value();
    }
  }
  for (const Namespaces* scope : scopes) {
    if (auto found = scope->find(prefix); found != scope->end()) return found->second;
  }
  return {};
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

// A fault's text as one line: services break their reasons over several
// lines, and a description reads as one sentence.
std::string OneLine(const std::string& text) {
  std::string line;
  bool space = false;
  for (const char c : text) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      space = !line.empty();
    } else {
      if (space) line += ' ';
      space = false;
      line += c;
    }
  }
  return line;
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

// The failure that a fault stands for. The number is the WMI provider's
// code where the service names one: the error_Code of an MSFT_WmiError
// detail (Windows 8 and later), or the innermost WSManFault, which nests the
// provider's fault inside the WS-Management one. Otherwise it is the
// WS-Management code.
Status FaultStatus(pugi::xml_node fault) {
  std::optional<int64_t> number;
  std::string message;
  int nesting = 0;
  for (pugi::xml_node node = Descendant(fault, "WSManFault"); node && nesting < kMaxDepth;
       node = Descendant(node, "WSManFault"), ++nesting) {
    if (std::optional<int64_t> code = ParseCode(node.attribute("Code").value())) number = code;
    if (pugi::xml_node text = Child(node, "Message")) {
      if (!Child(text, "ProviderFault")) message = OneLine(TextOf(text));
    }
  }
  if (pugi::xml_node wmi_error = Descendant(Child(fault, "Detail"), "MSFT_WmiError")) {
    if (std::optional<int64_t> code = ParseCode(Trimmed(TextOf(Child(wmi_error, "error_Code"))))) {
      number = code;
    }
    if (std::string text = OneLine(TextOf(Child(wmi_error, "Message"))); !text.empty()) {
      message = std::move(text);
    }
  }
  std::string reason = OneLine(TextOf(Descendant(Child(fault, "Reason"), "Text")));
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

// The instance that `element` carries. Its properties are the children in
// the instance's own namespace (or in none); anything else that a service
// adds, such as the cim:Location reference of the instance, is not a
// property. `outer` holds the declarations in force at the element's parent.
Instance ReadInstance(pugi::xml_node element, const Namespaces& outer) {
  Instance instance;
  instance.class_name = std::string(LocalName(element.name()));
  Namespaces own;
  Declare(element, own);
  const std::string_view instance_namespace = NamespaceOf(element, {&outer});
  std::set<std::string_view> seen;
  for (pugi::xml_node property : element.children()) {
    if (property.type() != pugi::node_element) continue;
    const std::string_view property_namespace = NamespaceOf(property, {&own, &outer});
    if (!property_namespace.empty() && property_namespace != instance_namespace) continue;
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
  const pugi::xml_node items = Child(response, "Items");
  const Namespaces scope = InScope(items);
  for (pugi::xml_node item : items.children()) {
    if (item.type() == pugi::node_element) page.instances.push_back(ReadInstance(item, scope));
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
