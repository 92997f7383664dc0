#include "platform/network/wsman/wsman_envelope.h"

#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <string>

namespace hostlore::wsman {
namespace {

pugi::xml_node Select(const pugi::xml_document& doc, const char* xpath) {
  return doc.select_node(xpath).node();
}

TEST(WsmanEnvelopeTest, EnumerateAsksForAnOptimizedWqlQuery) {
  // Query text from the target's side of the world is escaped, never spliced.
  const std::string xml = EnumerateEnvelope("http://10.0.0.5:5985/wsman",
                                            "Select * From Win32_BIOS Where A = '<&>'", 50,
                                            "uuid:1");
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(xml.c_str()));
  EXPECT_STREQ(Select(doc, "//a:Action").child_value(),
               "http://schemas.xmlsoap.org/ws/2004/09/enumeration/Enumerate");
  EXPECT_STREQ(Select(doc, "//w:ResourceURI").child_value(),
               "http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/*");
  EXPECT_STREQ(Select(doc, "//a:To").child_value(), "http://10.0.0.5:5985/wsman");
  EXPECT_STREQ(Select(doc, "//a:MessageID").child_value(), "uuid:1");
  EXPECT_TRUE(Select(doc, "//n:Enumerate/w:OptimizeEnumeration"));
  EXPECT_STREQ(Select(doc, "//n:Enumerate/w:MaxElements").child_value(), "50");
  pugi::xml_node filter = Select(doc, "//n:Enumerate/w:Filter");
  EXPECT_STREQ(filter.child_value(), "Select * From Win32_BIOS Where A = '<&>'");
  EXPECT_STREQ(filter.attribute("Dialect").value(),
               "http://schemas.microsoft.com/wbem/wsman/1/WQL");
}

TEST(WsmanEnvelopeTest, PullNamesTheContextAndIdentifyIsBare) {
  pugi::xml_document pull;
  ASSERT_TRUE(pull.load_string(PullEnvelope("https://h:5986/wsman", "uuid:ctx", 7, "uuid:2").c_str()));
  EXPECT_STREQ(Select(pull, "//a:Action").child_value(),
               "http://schemas.xmlsoap.org/ws/2004/09/enumeration/Pull");
  EXPECT_STREQ(Select(pull, "//n:Pull/n:EnumerationContext").child_value(), "uuid:ctx");
  EXPECT_STREQ(Select(pull, "//n:Pull/n:MaxElements").child_value(), "7");

  pugi::xml_document identify;
  ASSERT_TRUE(identify.load_string(IdentifyEnvelope().c_str()));
  EXPECT_TRUE(Select(identify, "/s:Envelope/s:Body/wsmid:Identify"));

  const std::string id = NewMessageId();
  EXPECT_EQ(id.size(), 41u);
  EXPECT_EQ(id.rfind("uuid:", 0), 0u);
  EXPECT_NE(id, NewMessageId());
}

}  // namespace
}  // namespace hostlore::wsman
