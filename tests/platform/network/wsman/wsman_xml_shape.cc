#include "platform/network/wsman/wsman_xml_shape.h"

#include <cstring>
#include <map>
#include <vector>

#include <pugixml.hpp>

namespace hostlore::test {
namespace {

using Namespaces = std::map<std::string, std::string, std::less<>>;

std::string_view LocalName(std::string_view qualified) {
  const size_t colon = qualified.rfind(':');
  return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

std::string_view Prefix(std::string_view qualified) {
  const size_t colon = qualified.rfind(':');
  return colon == std::string_view::npos ? std::string_view() : qualified.substr(0, colon);
}

bool IsDeclaration(std::string_view name) {
  return name == "xmlns" || name.substr(0, 6) == "xmlns:";
}

Namespaces Declarations(pugi::xml_node node) {
  Namespaces declared;
  for (pugi::xml_attribute attribute : node.attributes()) {
    const std::string_view name = attribute.name();
    if (name == "xmlns") declared[""] = attribute.value();
    if (name.substr(0, 6) == "xmlns:") declared[std::string(name.substr(6))] = attribute.value();
  }
  return declared;
}

std::string Resolve(std::string_view qualified, const Namespaces& scope, bool attribute) {
  const std::string_view prefix = Prefix(qualified);
  if (prefix == "xml") return "xml";
  if (prefix.empty() && attribute) return "";
  const auto found = scope.find(prefix);
  return found == scope.end() ? "?" + std::string(prefix) : found->second;
}

std::string Trimmed(std::string text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// An element's attributes other than declarations, keyed by namespace and
// local name (and by the qualified name where prefixes count).
std::map<std::string, std::string> Attributes(pugi::xml_node node, const Namespaces& scope,
                                              const ShapeOptions& options) {
  std::map<std::string, std::string> attributes;
  for (pugi::xml_attribute attribute : node.attributes()) {
    const std::string_view name = attribute.name();
    if (IsDeclaration(name)) continue;
    std::string key = "{" + Resolve(name, scope, true) + "}" + std::string(LocalName(name));
    if (options.prefixes) key += " as " + std::string(name);
    attributes[key] = options.free_attributes.count(LocalName(name)) ? "" : attribute.value();
  }
  return attributes;
}

std::vector<pugi::xml_node> Elements(pugi::xml_node node,
                                     const std::set<std::string, std::less<>>& leave_out) {
  std::vector<pugi::xml_node> elements;
  for (pugi::xml_node child : node.children()) {
    if (child.type() == pugi::node_element && !leave_out.count(LocalName(child.name()))) {
      elements.push_back(child);
    }
  }
  return elements;
}

std::string Compare(pugi::xml_node expected, Namespaces expected_scope, pugi::xml_node actual,
                    Namespaces actual_scope, const ShapeOptions& options, const std::string& path) {
  const Namespaces expected_declared = Declarations(expected);
  const Namespaces actual_declared = Declarations(actual);
  for (const auto& [prefix, uri] : expected_declared) expected_scope[prefix] = uri;
  for (const auto& [prefix, uri] : actual_declared) actual_scope[prefix] = uri;

  const std::string_view expected_name = expected.name();
  const std::string_view actual_name = actual.name();
  const std::string here = path + "/" + std::string(expected_name);
  if (LocalName(expected_name) != LocalName(actual_name) ||
      Resolve(expected_name, expected_scope, false) != Resolve(actual_name, actual_scope, false)) {
    return here + ": found " + std::string(actual_name) + " {" +
           Resolve(actual_name, actual_scope, false) + "}";
  }
  if (options.prefixes && expected_name != actual_name) {
    return here + ": written as " + std::string(actual_name);
  }
  if (options.prefixes && expected_declared != actual_declared) {
    return here + ": other namespace declarations";
  }
  const auto expected_attributes = Attributes(expected, expected_scope, options);
  const auto actual_attributes = Attributes(actual, actual_scope, options);
  if (expected_attributes != actual_attributes) {
    std::string found;
    for (const auto& [key, value] : actual_attributes) found += " " + key + "=\"" + value + "\"";
    return here + ": other attributes:" + found;
  }
  const std::string_view local = LocalName(expected_name);
  if (options.texts.count(local) &&
      Trimmed(expected.text().get()) != Trimmed(actual.text().get())) {
    return here + ": text \"" + Trimmed(actual.text().get()) + "\"";
  }
  if (options.opaque.count(local)) return "";

  const std::vector<pugi::xml_node> expected_children = Elements(expected, options.optional);
  const std::vector<pugi::xml_node> actual_children = Elements(actual, options.extra);
  for (size_t i = 0; i < expected_children.size() || i < actual_children.size(); ++i) {
    if (i == actual_children.size()) {
      return here + ": lacks " + std::string(expected_children[i].name());
    }
    if (i == expected_children.size()) {
      return here + ": has more: " + std::string(actual_children[i].name());
    }
    std::string difference = Compare(expected_children[i], expected_scope, actual_children[i],
                                     actual_scope, options, here);
    if (!difference.empty()) return difference;
  }
  return "";
}

}  // namespace

std::string ShapeDifference(std::string_view expected, std::string_view actual,
                            const ShapeOptions& options) {
  pugi::xml_document expected_doc;
  pugi::xml_document actual_doc;
  if (!expected_doc.load_buffer(expected.data(), expected.size())) return "expected: not XML";
  if (!actual_doc.load_buffer(actual.data(), actual.size())) return "actual: not XML";
  return Compare(expected_doc.document_element(), {}, actual_doc.document_element(), {}, options,
                 "");
}

}  // namespace hostlore::test
