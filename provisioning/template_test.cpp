#include "provisioning/template.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ini/stream_errors.h"
#include "provisioning/template_checker.h"
#include "tests/fake_platform.h"

namespace lw {
namespace {

std::vector<std::string> Names(const TStringList& list) {
  return {list.begin(), list.end()};
}

bool IsHex(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](unsigned char c) { return std::isxdigit(c) != 0; });
}

std::string ShippedTemplateBytes() {
  std::ifstream in(LW_SOURCE_DIR "/resources/template.ini", std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(LoadTemplate, ParsesTheResourceIntoADocument) {
  FakePlatform platform;
  platform.AddResource("IniData", kRcDataType,
                       "; note\r\n[config]\r\ncresecs = E\n[E]\rGuid=01\r\n\r\n[x]\r\n");
  TMemIniFile templ(platform, "");
  LoadTemplate(platform, templ);
  TStringList sections;
  templ.GetSectionNames(sections);
  EXPECT_EQ(Names(sections), (std::vector<std::string>{"config", "E", "x"}));
  EXPECT_EQ(templ.GetValue("config", "cresecs", "?"), "E");
  EXPECT_EQ(templ.GetValue("E", "Guid", "?"), "01");
  EXPECT_EQ(templ.FileName(), "");
}

TEST(LoadTemplate, ReplacesEarlierContent) {
  FakePlatform platform;
  platform.AddResource("INIDATA", kRcDataType, "[b]\r\nk=2\r\n");
  TMemIniFile templ(platform, "");
  templ.SetValue("a", "k", "1");
  LoadTemplate(platform, templ);
  EXPECT_EQ(templ.GetValue("a", "k", "gone"), "gone");
  EXPECT_EQ(templ.GetValue("b", "k", ""), "2");
}

TEST(LoadTemplate, MissingResourceRaisesResNotFound) {
  FakePlatform platform;
  platform.AddResource("IniData", 6, "[config]\r\n");  // a string table, not RCDATA
  TMemIniFile templ(platform, "");
  try {
    LoadTemplate(platform, templ);
    FAIL() << "no error raised";
  } catch (const EResNotFound& error) {
    EXPECT_EQ(error.Message(), "Resource IniData not found");
  }
}

// The template that ships in the executable.
class ShippedTemplate : public testing::Test {
 protected:
  void SetUp() override {
    bytes_ = ShippedTemplateBytes();
    ASSERT_FALSE(bytes_.empty());
    platform_.AddResource("IniData", kRcDataType, bytes_);
    LoadTemplate(platform_, templ_);
  }

  FakePlatform platform_;
  TMemIniFile templ_{platform_, ""};
  std::string bytes_;
};

TEST_F(ShippedTemplate, HasCrLfLineEndsOnly) {
  for (std::size_t i = 0; i < bytes_.size(); ++i) {
    if (bytes_[i] == '\n') {
      EXPECT_TRUE(i > 0 && bytes_[i - 1] == '\r') << "lone LF at " << i;
    }
    if (bytes_[i] == '\r') {
      EXPECT_TRUE(i + 1 < bytes_.size() && bytes_[i + 1] == '\n') << "lone CR at " << i;
    }
  }
  EXPECT_EQ(bytes_.substr(bytes_.size() - 2), "\r\n");
}

TEST_F(ShippedTemplate, HasTheSectionsItLists) {
  TStringList sections;
  templ_.GetSectionNames(sections);
  EXPECT_EQ(Names(sections),
            (std::vector<std::string>{"config", "vpn1", "vpn2", "auto.vpn1.example.com", "extra"}));
  EXPECT_EQ(templ_.GetValue("config", "mansecs", ""), "vpn1|vpn2");
  EXPECT_EQ(templ_.GetValue("config", "cresecs", ""), "auto.vpn1.example.com");
  EXPECT_EQ(templ_.GetValue("extra", "param1", ""), "0");
  EXPECT_TRUE(CheckTemplate(platform_, templ_).empty());
}

TEST_F(ShippedTemplate, ManagedSectionsIdentifyAndSetInOrder) {
  EXPECT_EQ(templ_.GetValue("vpn1", "id", ""), "PhoneNumber=vpn1.example.com");
  EXPECT_EQ(templ_.GetValue("vpn1", "set", ""),
            "UseRasCredentials=0|SwCompression=1|PreviewDomain=0|AutoLogon=0|"
            "ExcludedProtocols=8|IpDnsSuffix=corp.example.com|IpPrioritizeRemote=0|IpDnsFlags=1");
  EXPECT_EQ(templ_.GetValue("vpn2", "id", ""), "PhoneNumber=vpn2.example.com");
  const std::string set2 = templ_.GetValue("vpn2", "set", "");
  const std::string blobKey = "|CustomAuthData=";
  const std::size_t blob = set2.find(blobKey);
  ASSERT_NE(blob, std::string::npos);
  const std::string blobValue = set2.substr(blob + blobKey.size(), 48);
  EXPECT_TRUE(IsHex(blobValue)) << blobValue;
  EXPECT_EQ(set2,
            "UseRasCredentials=0|SwCompression=1|PreviewDomain=0|AutoLogon=0|"
            "ExcludedProtocols=8|IpDnsSuffix=corp.example.com|IpPrioritizeRemote=0|"
            "DataEncryption=8|CustomAuthKey=26|CustomAuthData=" +
                blobValue +
                "|AuthRestrictions=128|IpDnsSuffix=corp.example.com|Ipv6Assign=0|IpDnsFlags=1");
}

TEST_F(ShippedTemplate, CreatableEntryHasTheWholeEntryInOrder) {
  const std::vector<std::string> expected = {"Encoding",
                                             "PBVersion",
                                             "Type",
                                             "AutoLogon",
                                             "UseRasCredentials",
                                             "LowDateTime",
                                             "HighDateTime",
                                             "DialParamsUID",
                                             "Guid",
                                             "VpnStrategy",
                                             "ExcludedProtocols",
                                             "LcpExtensions",
                                             "DataEncryption",
                                             "SwCompression",
                                             "NegotiateMultilinkAlways",
                                             "SkipDoubleDialDialog",
                                             "DialMode",
                                             "OverridePref",
                                             "RedialAttempts",
                                             "RedialSeconds",
                                             "IdleDisconnectSeconds",
                                             "RedialOnLinkFailure",
                                             "CallbackMode",
                                             "CustomDialDll",
                                             "CustomDialFunc",
                                             "CustomRasDialDll",
                                             "ForceSecureCompartment",
                                             "DisableIKENameEkuCheck",
                                             "AuthenticateServer",
                                             "ShareMsFilePrint",
                                             "BindMsNetClient",
                                             "SharedPhoneNumbers",
                                             "GlobalDeviceSettings",
                                             "PrerequisiteEntry",
                                             "PrerequisitePbk",
                                             "PreferredPort",
                                             "PreferredDevice",
                                             "PreferredBps",
                                             "PreferredHwFlow",
                                             "PreferredProtocol",
                                             "PreferredCompression",
                                             "PreferredSpeaker",
                                             "PreferredMdmProtocol",
                                             "PreviewUserPw",
                                             "PreviewDomain",
                                             "PreviewPhoneNumber",
                                             "ShowDialingProgress",
                                             "ShowMonitorIconInTaskBar",
                                             "CustomAuthKey",
                                             "AuthRestrictions",
                                             "IpPrioritizeRemote",
                                             "IpInterfaceMetric",
                                             "IpHeaderCompression",
                                             "IpAddress",
                                             "IpDnsAddress",
                                             "IpDns2Address",
                                             "IpWinsAddress",
                                             "IpWins2Address",
                                             "IpAssign",
                                             "IpNameAssign",
                                             "IpDnsFlags",
                                             "IpNBTFlags",
                                             "TcpWindowSize",
                                             "UseFlags",
                                             "IpSecFlags",
                                             "IpDnsSuffix",
                                             "Ipv6Assign",
                                             "Ipv6Address",
                                             "Ipv6PrefixLength",
                                             "Ipv6PrioritizeRemote",
                                             "Ipv6InterfaceMetric",
                                             "Ipv6NameAssign",
                                             "Ipv6DnsAddress",
                                             "Ipv6Dns2Address",
                                             "Ipv6Prefix",
                                             "Ipv6InterfaceId",
                                             "DisableClassBasedDefaultRoute",
                                             "DisableMobility",
                                             "NetworkOutageTime",
                                             "ProvisionType",
                                             "PreSharedKey",
                                             "NETCOMPONENTS",
                                             "ms_msclient",
                                             "ms_server",
                                             "ms_pacer",
                                             "MEDIA",
                                             "Port",
                                             "Device",
                                             "DEVICE",
                                             "PhoneNumber",
                                             "AreaCode",
                                             "CountryCode",
                                             "CountryID",
                                             "UseDialingRules",
                                             "Comment",
                                             "FriendlyName",
                                             "LastSelectedPhone",
                                             "PromoteAlternates",
                                             "TryNextAlternateOnFail",
                                             "NumServers",
                                             "RouteVersion",
                                             "NumRoutes",
                                             "Routes",
                                             "NumNrptRules"};
  ASSERT_EQ(expected.size(), 104u);
  TStringList keys;
  templ_.GetKeyNames("auto.vpn1.example.com", keys);
  EXPECT_EQ(Names(keys), expected);
}

TEST_F(ShippedTemplate, CreatableEntryHasItsTellingValues) {
  TStringList lines;
  templ_.GetSectionLines("auto.vpn1.example.com", lines);
  const std::vector<std::string> all = Names(lines);
  const auto has = [&](const std::string& line) {
    return std::find(all.begin(), all.end(), line) != all.end();
  };
  for (const char* line : {"Encoding=1",
                           "PBVersion=1",
                           "Type=2",
                           "VpnStrategy=5",
                           "DataEncryption=256",
                           "RedialAttempts=5",
                           "RedialSeconds=60",
                           "RedialOnLinkFailure=1",
                           "PreferredPort=VPN0-0",
                           "PreferredDevice=WAN Miniport (SSTP)",
                           "CustomAuthKey=0",
                           "AuthRestrictions=512",
                           "IpPrioritizeRemote=0",
                           "IpAssign=1",
                           "IpNameAssign=1",
                           "IpDnsSuffix=corp.example.com",
                           "Ipv6Address=::",
                           "Ipv6Prefix=0000000000000000",
                           "Ipv6InterfaceId=0000000000000000",
                           "MEDIA=rastapi",
                           "Port=VPN0-0",
                           "Device=WAN Miniport (SSTP)",
                           "DEVICE=vpn",
                           "PhoneNumber=vpn1.example.com",
                           "NumRoutes=2"}) {
    EXPECT_TRUE(has(line)) << line;
  }
  std::vector<std::string> empty;
  for (const std::string& line : all) {
    if (line.back() == '=') empty.push_back(line);
  }
  EXPECT_EQ(empty,
            (std::vector<std::string>{"CustomDialDll=", "CustomDialFunc=", "CustomRasDialDll=",
                                      "PrerequisiteEntry=", "PrerequisitePbk=", "PreSharedKey=",
                                      "NETCOMPONENTS=", "AreaCode=", "Comment=", "FriendlyName="}));
  const std::string routes = templ_.GetValue("auto.vpn1.example.com", "Routes", "");
  const std::string tail = "\\r\\nRoutes=0000000000000000";
  ASSERT_GT(routes.size(), tail.size());
  EXPECT_EQ(routes.substr(routes.size() - tail.size()), tail);
  const std::string guid = templ_.GetValue("auto.vpn1.example.com", "Guid", "");
  EXPECT_EQ(guid.size(), 32u);
  EXPECT_TRUE(IsHex(guid)) << guid;
}

}  // namespace
}  // namespace lw
