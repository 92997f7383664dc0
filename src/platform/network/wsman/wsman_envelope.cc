#include "platform/network/wsman/wsman_envelope.h"

#include <cstdio>
#include <random>
#include <sstream>

#include <pugixml.hpp>

namespace hostlore::wsman {
namespace {

constexpr const char* kSoap = "http://www.w3.org/2003/05/soap-envelope";
constexpr const char* kAddressing = "http://schemas.xmlsoap.org/ws/2004/08/addressing";
constexpr const char* kEnumeration = "http://schemas.xmlsoap.org/ws/2004/09/enumeration";
constexpr const char* kWsman = "http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd";
constexpr const char* kMsWsman = "http://schemas.microsoft.com/wbem/wsman/1/wsman.xsd";
constexpr const char* kIdentity =
    "http://schemas.dmtf.org/wbem/wsman/identity/1/wsmanidentity.xsd";
constexpr const char* kAnonymous =
    "http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous";

// Windows refuses responses larger than the client allows; 512000 bytes is
// what its own client asks for.
constexpr const char* kMaxEnvelopeSize = "512000";
constexpr const char* kOperationTimeout = "PT60.000S";

std::string Serialize(const pugi::xml_document& doc) {
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw | pugi::format_no_declaration);
  return out.str();
}

pugi::xml_node Text(pugi::xml_node parent, const char* name, std::string_view text) {
  pugi::xml_node node = parent.append_child(name);
  node.text().set(std::string(text).c_str());
  return node;
}

void MustUnderstand(pugi::xml_node node) {
  node.append_attribute("s:mustUnderstand") = "true";
}

// The envelope and header shared by Enumerate and Pull; returns the body.
pugi::xml_node EnumerationEnvelope(pugi::xml_document& doc, std::string_view endpoint,
                                   const char* action, std::string_view message_id) {
  pugi::xml_node envelope = doc.append_child("s:Envelope");
  envelope.append_attribute("xmlns:s") = kSoap;
  envelope.append_attribute("xmlns:a") = kAddressing;
  envelope.append_attribute("xmlns:n") = kEnumeration;
  envelope.append_attribute("xmlns:w") = kWsman;
  envelope.append_attribute("xmlns:p") = kMsWsman;

  pugi::xml_node header = envelope.append_child("s:Header");
  Text(header, "a:To", endpoint);
  MustUnderstand(Text(header, "w:ResourceURI", kCimv2Resource));
  pugi::xml_node reply_to = header.append_child("a:ReplyTo");
  MustUnderstand(Text(reply_to, "a:Address", kAnonymous));
  MustUnderstand(Text(header, "a:Action", action));
  MustUnderstand(Text(header, "w:MaxEnvelopeSize", kMaxEnvelopeSize));
  Text(header, "a:MessageID", message_id);
  pugi::xml_node locale = header.append_child("w:Locale");
  locale.append_attribute("xml:lang") = "en-US";
  locale.append_attribute("s:mustUnderstand") = "false";
  pugi::xml_node data_locale = header.append_child("p:DataLocale");
  data_locale.append_attribute("xml:lang") = "en-US";
  data_locale.append_attribute("s:mustUnderstand") = "false";
  Text(header, "w:OperationTimeout", kOperationTimeout);
  return envelope.append_child("s:Body");
}

}  // namespace

std::string NewMessageId() {
  std::random_device device;
  std::uniform_int_distribution<unsigned> byte(0, 255);
  unsigned char b[16];
  for (unsigned char& c : b) c = static_cast<unsigned char>(byte(device));
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
  char text[64];
  std::snprintf(text, sizeof text,
                "uuid:%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0],
                b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                b[14], b[15]);
  return text;
}

std::string IdentifyEnvelope() {
  pugi::xml_document doc;
  pugi::xml_node envelope = doc.append_child("s:Envelope");
  envelope.append_attribute("xmlns:s") = kSoap;
  envelope.append_attribute("xmlns:wsmid") = kIdentity;
  envelope.append_child("s:Header");
  envelope.append_child("s:Body").append_child("wsmid:Identify");
  return Serialize(doc);
}

std::string EnumerateEnvelope(std::string_view endpoint, std::string_view wql, int max_elements,
                              std::string_view message_id) {
  pugi::xml_document doc;
  pugi::xml_node body = EnumerationEnvelope(
      doc, endpoint, "http://schemas.xmlsoap.org/ws/2004/09/enumeration/Enumerate", message_id);
  pugi::xml_node enumerate = body.append_child("n:Enumerate");
  enumerate.append_child("w:OptimizeEnumeration");
  Text(enumerate, "w:MaxElements", std::to_string(max_elements));
  pugi::xml_node filter = Text(enumerate, "w:Filter", wql);
  filter.append_attribute("Dialect") = std::string(kWqlDialect).c_str();
  return Serialize(doc);
}

std::string PullEnvelope(std::string_view endpoint, std::string_view context, int max_elements,
                         std::string_view message_id) {
  pugi::xml_document doc;
  pugi::xml_node body = EnumerationEnvelope(
      doc, endpoint, "http://schemas.xmlsoap.org/ws/2004/09/enumeration/Pull", message_id);
  pugi::xml_node pull = body.append_child("n:Pull");
  Text(pull, "n:EnumerationContext", context);
  Text(pull, "n:MaxElements", std::to_string(max_elements));
  return Serialize(doc);
}

}  // namespace hostlore::wsman
