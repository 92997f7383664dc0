#include "platform/network/wsman/wsman_envelope.h"

#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <string>

namespace hostlore::wsman {
namespace {

// The element layout is compared with the documented requests elsewhere;
// here, what depends on the values.
TEST(WsmanEnvelopeTest, QueryTextIsEscapedAndMessagesAreNamedApart) {
  // Query text from the target's side of the world is escaped, never spliced.
  const std::string query = "Select * From Win32_BIOS Where A = '<&>' --></w:Filter>";
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(
      EnumerateEnvelope("http://10.0.0.5:5985/wsman", query, 50, "uuid:1").c_str()));
  EXPECT_EQ(std::string(doc.select_node("//n:Enumerate/w:Filter").node().child_value()), query);
  EXPECT_EQ(std::string(doc.select_node("//a:MessageID").node().child_value()), "uuid:1");

  const std::string id = NewMessageId();
  EXPECT_EQ(id.size(), 41u);
  EXPECT_EQ(id.rfind("uuid:", 0), 0u);
  EXPECT_NE(id, NewMessageId());
}

}  // namespace
}  // namespace hostlore::wsman
