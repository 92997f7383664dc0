#include "platform/network/wsman/wsman_response.h"

#include <gtest/gtest.h>

#include <string>

namespace hostlore::wsman {
namespace {

// Laid out as Windows writes an optimized EnumerateResponse (one line in the
// real message; broken here for reading).
const std::string kEnvelopeStart =
    "<s:Envelope xml:lang=\"en-US\" xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
    "xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
    "xmlns:n=\"http://schemas.xmlsoap.org/ws/2004/09/enumeration\" "
    "xmlns:w=\"http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd\" "
    "xmlns:p=\"http://schemas.microsoft.com/wbem/wsman/1/wsman.xsd\">"
    "<s:Header><a:To>http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous</a:To>"
    "<a:Action>http://schemas.xmlsoap.org/ws/2004/09/enumeration/EnumerateResponse</a:Action>"
    "<a:MessageID>uuid:4C8E6E7B-1B2E-4C8B-9D55-3F0E5C2F2A11</a:MessageID>"
    "<a:RelatesTo>uuid:0C5A6B2E-9E47-4D0D-8C3A-6A1D8E1C2B33</a:RelatesTo></s:Header><s:Body>";
const std::string kEnvelopeEnd = "</s:Body></s:Envelope>";

std::string Disk(const std::string& caption, const std::string& size) {
  return "<p:Win32_LogicalDisk "
         "xmlns:p=\"http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/Win32_LogicalDisk\" "
         "xmlns:cim=\"http://schemas.dmtf.org/wbem/wscim/1/common\" "
         "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
         "xsi:type=\"p:Win32_LogicalDisk_Type\">"
         "<p:Caption>" + caption + "</p:Caption>" + size +
         "<p:VolumeName>SYSTEM &amp; DATA</p:VolumeName></p:Win32_LogicalDisk>";
}

TEST(WsmanResponseTest, OptimizedEnumerateCarriesInstancesNullsAndEnd) {
  const std::string xml =
      kEnvelopeStart +
      "<n:EnumerateResponse><n:EnumerationContext>uuid:7A1C-1</n:EnumerationContext><w:Items>" +
      Disk("C:", "<p:Size>40015953920</p:Size>") +
      Disk("D:", "<p:Size xsi:nil=\"true\"/>") +
      "</w:Items><w:EndOfSequence/></n:EnumerateResponse>" + kEnvelopeEnd;
  Result<Page> page = ParseEnumerationResponse(xml);
  ASSERT_TRUE(page.ok()) << page.status().description();
  EXPECT_TRUE(page->end_of_sequence);
  ASSERT_EQ(page->instances.size(), 2u);
  const Instance& c = page->instances[0];
  EXPECT_EQ(c.class_name, "Win32_LogicalDisk");
  EXPECT_EQ(std::get<std::string>(c.Get("size")->value), "40015953920");
  EXPECT_EQ(std::get<std::string>(c.Get("VOLUMENAME")->value), "SYSTEM & DATA");
  EXPECT_TRUE(page->instances[1].Get("Size")->is_null());
  // Absent from the instance: missing, not null.
  EXPECT_EQ(c.Get("FileSystem").status().number(), kWbemNotFound);
}

TEST(WsmanResponseTest, PullPagesCarryTheirContextUntilTheEnd) {
  const std::string more = kEnvelopeStart +
                           "<n:PullResponse><n:EnumerationContext>uuid:ctx-2</n:EnumerationContext>"
                           "<n:Items>" +
                           Disk("E:", "") + "</n:Items></n:PullResponse>" + kEnvelopeEnd;
  Result<Page> page = ParseEnumerationResponse(more);
  ASSERT_TRUE(page.ok()) << page.status().description();
  EXPECT_FALSE(page->end_of_sequence);
  EXPECT_EQ(page->context, "uuid:ctx-2");
  EXPECT_EQ(page->instances.size(), 1u);

  // An Enumerate that the service did not optimize: no items, only a context.
  Result<Page> empty = ParseEnumerationResponse(
      kEnvelopeStart +
      "<n:EnumerateResponse><n:EnumerationContext>uuid:c</n:EnumerationContext>"
      "</n:EnumerateResponse>" +
      kEnvelopeEnd);
  ASSERT_TRUE(empty.ok());
  EXPECT_TRUE(empty->instances.empty());
  EXPECT_FALSE(empty->end_of_sequence);
}

TEST(WsmanResponseTest, NestedValuesAndRepeatedPropertiesReadAsText) {
  const std::string xml =
      kEnvelopeStart +
      "<n:PullResponse><n:Items><p:Win32_OperatingSystem xmlns:p=\"urn:x\" xmlns:cim=\"urn:c\">"
      "<p:InstallDate><cim:Datetime>2004-06-01T10:00:00Z</cim:Datetime></p:InstallDate>"
      "<p:MUILanguages>en-US</p:MUILanguages><p:MUILanguages>de-DE</p:MUILanguages>"
      "<p:Caption><![CDATA[Microsoft <Windows>]]></p:Caption>"
      "</p:Win32_OperatingSystem></n:Items><n:EndOfSequence/></n:PullResponse>" +
      kEnvelopeEnd;
  Result<Page> page = ParseEnumerationResponse(xml);
  ASSERT_TRUE(page.ok()) << page.status().description();
  const Instance& os = page->instances.at(0);
  EXPECT_EQ(std::get<std::string>(os.Get("InstallDate")->value), "2004-06-01T10:00:00Z");
  EXPECT_EQ(std::get<std::string>(os.Get("MUILanguages")->value), "en-US");
  EXPECT_EQ(std::get<std::string>(os.Get("Caption")->value), "Microsoft <Windows>");
}

// A WMI fault as Windows nests it: the WS-Management code outside, the WMI
// provider's HRESULT inside.
TEST(WsmanResponseTest, FaultsBecomeFailuresWithTheWmiCode) {
  const std::string xml =
      kEnvelopeStart +
      "<s:Fault><s:Code><s:Value>s:Sender</s:Value><s:Subcode><s:Value>w:InvalidParameter"
      "</s:Value></s:Subcode></s:Code><s:Reason><s:Text xml:lang=\"en-US\">The WS-Management "
      "service cannot process the request. The WMI service returned an 'invalid class' error. "
      "</s:Text></s:Reason><s:Detail><f:WSManFault "
      "xmlns:f=\"http://schemas.microsoft.com/wbem/wsman/1/wsmanfault\" Code=\"2150858752\" "
      "Machine=\"10.0.0.5\"><f:Message><f:ProviderFault provider=\"WMI Provider\" "
      "path=\"%systemroot%\\system32\\WsmWmiPl.dll\"><f:WSManFault Code=\"2147749904\" "
      "Machine=\"PC042\"><f:Message>Invalid class </f:Message></f:WSManFault>"
      "</f:ProviderFault></f:Message></f:WSManFault></s:Detail></s:Fault>" +
      kEnvelopeEnd;
  Result<Page> page = ParseEnumerationResponse(xml);
  ASSERT_FALSE(page.ok());
  EXPECT_EQ(page.status().number(), 0x80041010);
  EXPECT_EQ(page.status().description(),
            "The WS-Management service cannot process the request. The WMI service returned an "
            "'invalid class' error.");

  // Windows 8 and later may describe a WMI failure as an MSFT_WmiError
  // instance instead: its error_Code is the WMI provider's HRESULT.
  Result<Page> wmi_error = ParseEnumerationResponse(
      kEnvelopeStart +
      "<s:Fault><s:Code><s:Value>s:Receiver</s:Value><s:Subcode><s:Value>w:InternalError"
      "</s:Value></s:Subcode></s:Code><s:Reason><s:Text xml:lang=\"en-US\">Invalid class "
      "</s:Text></s:Reason><s:Detail><p:MSFT_WmiError b:IsCIM_Error=\"true\" "
      "xmlns:b=\"http://schemas.dmtf.org/wbem/wsman/1/cimbinding.xsd\" "
      "xmlns:p=\"http://schemas.dmtf.org/wbem/wscim/1/cim-schema/2/MSFT_WmiError\" "
      "xmlns:cim=\"http://schemas.dmtf.org/wbem/wscim/1/common\" "
      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xsi:type=\"p:MSFT_WmiError_Type\">"
      "<p:CIMStatusCode xsi:type=\"cim:cimUnsignedInt\">5</p:CIMStatusCode>"
      "<p:Message xsi:type=\"cim:cimString\">Invalid class </p:Message>"
      "<p:MessageID xsi:type=\"cim:cimString\" xsi:nil=\"true\"/>"
      "<p:error_Code xsi:type=\"cim:cimUnsignedInt\">2147749904</p:error_Code>"
      "<p:error_Type xsi:type=\"cim:cimString\">HRESULT</p:error_Type>"
      "</p:MSFT_WmiError></s:Detail></s:Fault>" +
      kEnvelopeEnd);
  ASSERT_FALSE(wmi_error.ok());
  EXPECT_EQ(wmi_error.status().number(), 0x80041010);
  EXPECT_EQ(wmi_error.status().description(), "Invalid class");

  // Without a reason or codes: the innermost message, and the generic number.
  Result<Page> bare = ParseEnumerationResponse(
      kEnvelopeStart +
      "<s:Fault><s:Detail><f:WSManFault Code=\"-91\"><f:Message>Object not set</f:Message>"
      "</f:WSManFault></s:Detail></s:Fault>" + kEnvelopeEnd);
  ASSERT_FALSE(bare.ok());
  EXPECT_EQ(bare.status().description(), "Object not set");
  EXPECT_EQ(bare.status().number(), 0x100000000LL - 91);
  EXPECT_EQ(ParseIdentifyResponse(kEnvelopeStart + "<s:Fault/>" + kEnvelopeEnd).number(),
            kUnspecifiedFault);
}

TEST(WsmanResponseTest, AnythingElseIsAnInvalidResponse) {
  for (const std::string& xml :
       {std::string(), std::string("<html>500</html>"), std::string("<s:Envelope><s:Body>"),
        kEnvelopeStart + kEnvelopeEnd,
        kEnvelopeStart + "<n:PullResponse><n:Items/></n:PullResponse>" + kEnvelopeEnd}) {
    Result<Page> page = ParseEnumerationResponse(xml);
    ASSERT_FALSE(page.ok()) << xml;
    EXPECT_EQ(page.status().number(), kInvalidResponse) << xml;
  }
  EXPECT_EQ(ParseIdentifyResponse("<s:Envelope/>").number(), kInvalidResponse);
  EXPECT_TRUE(ParseIdentifyResponse(
                  "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\"><s:Header/>"
                  "<s:Body><wsmid:IdentifyResponse xmlns:wsmid=\"urn:id\"><wsmid:ProductVendor>"
                  "Microsoft Corporation</wsmid:ProductVendor></wsmid:IdentifyResponse>"
                  "</s:Body></s:Envelope>")
                  .ok());
}

// A hostile service may nest without end or repeat a property without end:
// reading stays within the stack and within linear time.
TEST(WsmanResponseTest, HostileShapesStayBounded) {
  std::string deep;
  for (int i = 0; i < 200000; ++i) deep += "<x>";
  deep += "v";
  for (int i = 0; i < 200000; ++i) deep += "</x>";
  std::string repeated;
  for (int i = 0; i < 200000; ++i) repeated += "<p:Name>n</p:Name>";
  Result<Page> page = ParseEnumerationResponse(
      kEnvelopeStart + "<n:PullResponse><n:Items><p:C><p:Deep>" + deep + "</p:Deep>" + repeated +
      "</p:C></n:Items><n:EndOfSequence/></n:PullResponse>" + kEnvelopeEnd);
  ASSERT_TRUE(page.ok()) << page.status().description();
  ASSERT_EQ(page->instances.size(), 1u);
  EXPECT_EQ(page->instances[0].properties.size(), 2u);
  EXPECT_EQ(std::get<std::string>(page->instances[0].Get("Deep")->value), "");
}

}  // namespace
}  // namespace hostlore::wsman
