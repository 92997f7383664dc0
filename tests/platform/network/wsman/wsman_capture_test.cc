// The client and the test service against the example messages of Windows's
// WS-Management service that Microsoft documents (wsman_captures/, each file
// naming its source): the client must read them and ask as they ask, and the
// test service must answer in their shape, so that the tests against it stand
// for a real Windows computer.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <variant>

#include <pugixml.hpp>

#include "platform/network/wsman/wsman_envelope.h"
#include "platform/network/wsman/wsman_response.h"
#include "platform/network/wsman/wsman_peer_process.h"
#include "platform/network/wsman/wsman_xml_shape.h"
#include "support/test_support.h"

namespace hostlore::test {
namespace {

using wsman::Page;

std::string Capture(const std::string& name) {
  std::ifstream file(std::string(HOSTLORE_SOURCE_DIR) + "/tests/platform/network/wsman/wsman_captures/" + name);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string Text(const std::optional<WmiValue>& value) {
  return value && std::holds_alternative<std::string>(value->value)
             ? std::get<std::string>(value->value)
             : "(not text)";
}

std::optional<WmiValue> Property(const wsman::Instance& instance, std::string_view name) {
  Result<WmiValue> value = instance.Get(name);
  if (!value.ok()) return std::nullopt;
  return value.value();
}

TEST(WsmanCaptureTest, TheClientReadsTheDocumentedReplies) {
  Result<Page> first = wsman::ParseEnumerationResponse(Capture("enumerate_response.xml"));
  ASSERT_TRUE(first.ok()) << first.status().description();
  EXPECT_EQ(first->context, "uuid:22EB9809-5543-4020-A75C-FD95FF06217B");
  EXPECT_TRUE(first->instances.empty());
  EXPECT_FALSE(first->end_of_sequence);

  // The instance carries its reference (cim:Location) beside its properties:
  // it is not one of them.
  Result<Page> more = wsman::ParseEnumerationResponse(Capture("pull_response.xml"));
  ASSERT_TRUE(more.ok()) << more.status().description();
  EXPECT_EQ(more->context, "uuid:2504CA0D-94B9-4F91-B2F7-9F4CD9A2A96C");
  EXPECT_FALSE(more->end_of_sequence);
  ASSERT_EQ(more->instances.size(), 1u);
  const wsman::Instance& one = more->instances[0];
  EXPECT_EQ(one.class_name, "myclass");
  EXPECT_EQ(one.properties.size(), 2u);
  EXPECT_EQ(Text(Property(one, "Data1")), "Test Message");
  EXPECT_EQ(Text(Property(one, "id")), "1");
  EXPECT_EQ(one.Get("Location").status().number(), kWbemNotFound);

  Result<Page> last = wsman::ParseEnumerationResponse(Capture("pull_response_end.xml"));
  ASSERT_TRUE(last.ok()) << last.status().description();
  EXPECT_TRUE(last->end_of_sequence);
  EXPECT_EQ(last->context, "");
  ASSERT_EQ(last->instances.size(), 1u);
  EXPECT_EQ(Text(Property(last->instances[0], "Data1")), "\"Hello again\"");

  // The reason, broken over lines in the message, reads as one line.
  Result<Page> fault = wsman::ParseEnumerationResponse(Capture("fault_response.xml"));
  ASSERT_FALSE(fault.ok());
  EXPECT_EQ(fault.status().number(), 32768);
  EXPECT_EQ(fault.status().description(),
            "The WS-Management service cannot process the request. The service cannot find the "
            "resource identified by the resource URI and selectors.");

  EXPECT_TRUE(wsman::ParseIdentifyResponse(Capture("identify_response.xml")).ok());
}

// Ours carry Locale and DataLocale as well, as Windows's own client does
// today; everything else is where and as the documented requests have it.
TEST(WsmanCaptureTest, TheClientAsksAsTheDocumentedRequests) {
  ShapeOptions options;
  options.prefixes = false;
  options.texts = {"Action"};
  options.extra = {"Locale", "DataLocale"};
  options.opaque = {"Enumerate"};
  const std::string endpoint = "http://192.0.2.42:5985/wsman";
  EXPECT_EQ(ShapeDifference(Capture("enumerate_request.xml"),
                            wsman::EnumerateEnvelope(endpoint, "Select * From Win32_BIOS", 32,
                                                     wsman::NewMessageId()),
                            options),
            "");
  options.opaque.clear();
  EXPECT_EQ(
      ShapeDifference(Capture("pull_request.xml"),
                      wsman::PullEnvelope(endpoint, "uuid:1", 1, wsman::NewMessageId()), options),
      "");
}

constexpr const char* kComputer = R"({
  "address": "192.0.2.42",
  "wmi": {
    "Win32_LogicalDisk": [{"Caption": "C:", "Size": "40015953920", "VolumeName": null},
                          {"Caption": "D:"}],
    "Win32_BIOS": {"error": "Invalid class", "number": -2147217392}
  }
})";

class WsmanPeerRepliesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why_not;
    peer_ = WsmanPeerStdio::Start(folder_.Write("pc.json", kComputer).string(), why_not);
    if (!peer_) GTEST_SKIP() << "the WS-Management peer cannot run: " << why_not;
  }

  // The peer's reply to `request`, which must relate to it.
  std::string Ask(const std::string& request, int status) {
    const auto [answered, reply] = peer_->Ask(request);
    EXPECT_EQ(answered, status) << reply;
    pugi::xml_document asked;
    pugi::xml_document answer;
    asked.load_string(request.c_str());
    answer.load_string(reply.c_str());
    EXPECT_EQ(
        answer.first_element_by_path("s:Envelope/s:Header/wsa:RelatesTo").text().as_string(),
        std::string(
            asked.first_element_by_path("s:Envelope/s:Header/a:MessageID").text().as_string()));
    return reply;
  }

  static std::string Enumerate(const std::string& wql) {
    return wsman::EnumerateEnvelope("http://192.0.2.42:5985/wsman", wql, 32, wsman::NewMessageId());
  }

  TempFolder folder_;
  std::unique_ptr<WsmanPeerStdio> peer_;
};

TEST_F(WsmanPeerRepliesTest, EnumerationRepliesHaveTheDocumentedShape) {
  ShapeOptions options;
  options.texts = {"Action", "To", "ProtocolVersion", "ProductVendor"};
  // Instances are data: the documented ones are of a class of the example's
  // own, with its reference; the peer's are laid out as Windows's WMI plugin
  // answers a WQL query (checked below).
  options.opaque = {"Items"};

  EXPECT_EQ(ShapeDifference(Capture("identify_response.xml"),
                            peer_->Ask(wsman::IdentifyEnvelope()).second, options),
            "");

  // An Enumerate that asks for no instances in its response, as the example.
  std::string enumerate = Enumerate("Select * From Win32_LogicalDisk");
  const std::string_view optimize = "<w:OptimizeEnumeration/>";
  enumerate.erase(enumerate.find(optimize), optimize.size());
  const std::string first = Ask(enumerate, 200);
  EXPECT_EQ(ShapeDifference(Capture("enumerate_response.xml"), first, options), "");
  Result<Page> started = wsman::ParseEnumerationResponse(first);
  ASSERT_TRUE(started.ok()) << started.status().description();

  const std::string endpoint = "http://192.0.2.42:5985/wsman";
  const std::string more =
      Ask(wsman::PullEnvelope(endpoint, started->context, 1, wsman::NewMessageId()), 200);
  EXPECT_EQ(ShapeDifference(Capture("pull_response.xml"), more, options), "");
  Result<Page> middle = wsman::ParseEnumerationResponse(more);
  ASSERT_TRUE(middle.ok()) << middle.status().description();

  const std::string last =
      Ask(wsman::PullEnvelope(endpoint, middle->context, 1, wsman::NewMessageId()), 200);
  EXPECT_EQ(ShapeDifference(Capture("pull_response_end.xml"), last, options), "");

  // A WQL result instance: an element of the class's own namespace, typed
  // with xsi:type, the cim namespace declared, null as xsi:nil.
  pugi::xml_document document;
  ASSERT_TRUE(document.load_string(more.c_str()));
  const pugi::xml_node disk =
      document.first_element_by_path("s:Envelope/s:Body/wsen:PullResponse/wsen:Items")
          .first_child();
  EXPECT_STREQ(disk.name(), "p:Win32_LogicalDisk");
  EXPECT_STREQ(disk.attribute("xmlns:p").value(),
               "http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/Win32_LogicalDisk");
  EXPECT_STREQ(disk.attribute("xmlns:xsi").value(), "http://www.w3.org/2001/XMLSchema-instance");
  EXPECT_STREQ(disk.attribute("xmlns:cim").value(), "http://schemas.dmtf.org/wbem/wscim/1/common");
  EXPECT_STREQ(disk.attribute("xsi:type").value(), "p:Win32_LogicalDisk_Type");
  EXPECT_STREQ(disk.child("p:VolumeName").attribute("xsi:nil").value(), "true");
  EXPECT_STREQ(disk.child("p:Size").text().get(), "40015953920");
}

TEST_F(WsmanPeerRepliesTest, FaultsHaveTheDocumentedShape) {
  ShapeOptions options;
  options.texts = {"Action", "To"};

  // A resource that the service does not serve: the documented fault itself.
  std::string elsewhere = Enumerate("Select * From Win32_BIOS");
  const std::string all = std::string(wsman::kCimv2Resource);
  elsewhere.replace(elsewhere.find(all), all.size(),
                    "http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/win32_nosuchclass");
  EXPECT_EQ(ShapeDifference(Capture("fault_response.xml"), Ask(elsewhere, 500), options), "");

  // A query that WMI refuses: the same nesting without a fault detail URI,
  // under the WS-Management fault action, carrying the WMI code inside.
  options.texts = {"To"};
  options.optional = {"FaultDetail"};
  const std::string refused = Ask(Enumerate("Select * From Win32_BIOS"), 500);
  EXPECT_EQ(ShapeDifference(Capture("fault_response.xml"), refused, options), "");
  Result<Page> page = wsman::ParseEnumerationResponse(refused);
  ASSERT_FALSE(page.ok());
  EXPECT_EQ(page.status().number(), 0x80041010);
  EXPECT_EQ(page.status().description(), "Invalid class");
}

}  // namespace
}  // namespace hostlore::test
