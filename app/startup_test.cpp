#include "app/startup.h"

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ini/mem_ini_file.h"
#include "provisioning/template.h"
#include "tests/fake_platform.h"

namespace lw {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr char kSstpKey[] =
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Sstpsvc\\Parameters";

constexpr char kUserPbk[] =
    "C:\\Users\\ann\\AppData\\Roaming\\Microsoft\\Network\\Connections\\Pbk\\rasphone.pbk";
constexpr char kAllUsersPbk[] =
    "C:\\ProgramData\\Microsoft\\Network\\Connections\\Pbk\\rasphone.pbk";

// The provisioning run of an empty template with no phonebook yet.
const std::vector<std::string> kEmptyRun = {
    "* OS version: 61",
    std::string("* reading: ") + kUserPbk,
    "* processing *.pbk",
    std::string("processing pbk ") + kUserPbk,
    std::string("* processing pbk ") + kUserPbk,
};

struct StartupTest : ::testing::Test {
  FakePlatform platform;

  StartupTest() { Reset(); }

  // A fresh machine: an empty template, and the two folders set apart.
  void Reset() {
    platform = FakePlatform();
    platform.AddResource("IniData", kRcDataType, "[config]\r\n");
    platform.env["APPDATA"] = "C:\\Users\\ann\\AppData\\Roaming";
    platform.env["ProgramData"] = "C:\\ProgramData";
  }

  int Run(std::vector<std::string> args = {}) {
    platform.args = std::move(args);
    return RunProcess(platform);
  }
  // The lines before the provisioning run, and the closing line after it.
  std::vector<std::string> StartLines() const {
    const auto run =
        std::find_if(platform.lines.begin(), platform.lines.end(),
                     [](const std::string& line) { return line.rfind("* OS", 0) == 0; });
    EXPECT_NE(run, platform.lines.end());
    EXPECT_EQ(platform.lines.back(), "vpnsetup.exe 2019061101 done ...");
    return {platform.lines.begin(), run};
  }
  // The lines and pauses of the fake's ordered record, in their order.
  std::vector<std::string> Shown() const {
    std::vector<std::string> shown;
    for (const std::string& event : platform.events) {
      if (event.rfind("line ", 0) == 0 || event.rfind("sleep ", 0) == 0) shown.push_back(event);
    }
    return shown;
  }
};

TEST(ExeNameOf, TakesTheFileNamePartAndLowersAsciiOnly) {
  const struct {
    std::string path;
    bool cp932;
    std::string name;
  } cases[] = {
      {"C:\\Tools\\VpnSetup.EXE", false, "vpnsetup.exe"},
      {"C:Setup-ADMIN.exe", false, "setup-admin.exe"},
      {"\\\\server\\share\\a:b\\X.exe", false, "x.exe"},
      {"plain.exe", false, "plain.exe"},
      {"C:\\T\\\xC4RGER.EXE", false, "\xC4rger.exe"},
      // In code page 932 a backslash ("\203\\" is 83 5C) or a letter ("\203A" is 83 41) may be
      // the second byte of a character: no cut there, and no letter to lower.
      {"C:\\T\\\203\\ADMIN.EXE", true, "\203\\admin.exe"},
      {"C:\\T\\\203ADMIN.EXE", true, "\203Admin.exe"},
      {"C:\\T\\\203ADMIN.EXE", false, "\203admin.exe"},
  };
  for (const auto& c : cases) {
    FakePlatform platform;
    if (c.cp932) platform.leadByteRanges = FakePlatform::kCp932LeadBytes;
    EXPECT_EQ(ExeNameOf(platform, c.path), c.name) << c.path;
  }
}

TEST_F(StartupTest, PlainRunProvisionsBetweenUserModeAndClosingLine) {
  EXPECT_EQ(Run(), 0);
  // The banner's pause comes before the mode line, the closing pause after the last line.
  std::vector<std::string> expected = {"line vpnsetup.exe 2019061101", "sleep 100", "sleep 100",
                                       "sleep 100", "line * user mode"};
  for (const std::string& line : kEmptyRun) expected.push_back("line " + line);
  expected.insert(expected.end(),
                  {"sleep 1000", "line vpnsetup.exe 2019061101 done ...", "sleep 3300"});
  EXPECT_EQ(Shown(), expected);
  EXPECT_THAT(platform.calls, IsEmpty());
  EXPECT_EQ(platform.readLineCalls, 0);
}

TEST_F(StartupTest, VersionGate) {
  struct Case {
    OsVersion version;
    bool passes;
  };
  for (const Case& c : {Case{{5, 1}, false}, Case{{5, 2}, false}, Case{{6, 0}, true},
                        Case{{6, 2}, true}, Case{{10, 0}, true}}) {
    FakePlatform fresh;
    fresh.version = c.version;
    fresh.exePath = "C:\\x\\vpnsetup-admin.exe";
    const int status = RunProcess(fresh);
    SCOPED_TRACE(std::to_string(c.version.major) + "." + std::to_string(c.version.minor));
    if (c.passes) {
      EXPECT_EQ(fresh.lines.at(1), "* admin mode failed - not running as administrator !");
    } else {
      EXPECT_EQ(status, kExitOldWindows);
      EXPECT_THAT(fresh.lines, ElementsAre("vpnsetup-admin.exe 2019061101",
                                           "vpnsetup-admin.exe not running in vista (6.0) "
                                           "or superior !"));
      EXPECT_THAT(fresh.sleeps, ElementsAre(100, 100, 100));
      EXPECT_THAT(fresh.calls, IsEmpty());
    }
  }
}

TEST_F(StartupTest, NameModesInOrder) {
  struct Case {
    const char* path;
    bool admin;
    std::vector<std::string> modeLines;
  };
  const Case cases[] = {
      {"C:\\a-updt-remgw-locgw.exe",
       false,
       {"* update only mode !", "* remote gateway mode", "* user mode"}},
      {"C:\\LOCGW.exe", false, {"* local gateway mode", "* user mode"}},
      {"C:\\updt-admin.exe", true, {"* update only mode !", "* admin mode"}},
      {"C:\\Up-Dt.exe", false, {"* user mode"}},
      {"C:\\admin\\vpnsetup.exe", false, {"* user mode"}},
  };
  for (const Case& c : cases) {
    Reset();
    platform.exePath = c.path;
    platform.isAdmin = c.admin;
    SCOPED_TRACE(c.path);
    EXPECT_EQ(RunProcess(platform), 0);
    const std::string name = ExeNameOf(platform, c.path);
    platform.lines.back().replace(0, name.size(), "vpnsetup.exe");
    const auto start = StartLines();
    ASSERT_FALSE(start.empty());
    EXPECT_EQ(std::vector<std::string>(start.begin() + 1, start.end()), c.modeLines);
  }
}

TEST_F(StartupTest, AdminNameWithoutRightsWaitsForEnterAndStops) {
  platform.exePath = "C:\\Deploy\\X-Admin.exe";
  platform.input = {"", "never read"};
  EXPECT_EQ(Run({"/r"}), kExitNotAdministrator);
  EXPECT_THAT(platform.lines, ElementsAre("x-admin.exe 2019061101",
                                          "* admin mode failed - not running as administrator !"));
  EXPECT_EQ(platform.readLineCalls, 1);
  EXPECT_THAT(platform.sleeps, ElementsAre(100, 100, 100));
  EXPECT_TRUE(platform.regValues.empty());
}

TEST_F(StartupTest, AllUsersSwitchWithoutRightsStopsAfterEarlierSwitches) {
  platform.isAdmin = false;
  EXPECT_EQ(Run({"/u", "/a", "/?"}), kExitNotAdministrator);
  EXPECT_EQ(platform.lines.back(), "* admin mode failed - not running as administrator !");
  EXPECT_EQ(platform.readLineCalls, 1);
}

TEST_F(StartupTest, AllUsersSwitchAsAdministratorRunsQuietly) {
  platform.isAdmin = true;
  EXPECT_EQ(Run({"/a"}), 0);
  EXPECT_THAT(StartLines(), ElementsAre("vpnsetup.exe 2019061101", "* user mode"));
  // All-users mode: the all-users phonebook is read and passed too.
  EXPECT_EQ(platform.files.count(kAllUsersPbk), 1u);
  EXPECT_EQ(platform.files.count(kUserPbk), 0u);
  EXPECT_THAT(platform.lines, Contains(std::string("* reading: ") + kUserPbk));
  EXPECT_THAT(platform.lines, Contains(std::string("* reading: ") + kAllUsersPbk));
}

TEST_F(StartupTest, HelpStopsAtOnceAfterEarlierSwitchesTookEffect) {
  platform.isAdmin = true;
  EXPECT_EQ(Run({"/r", "/?", "/R"}), 0);
  EXPECT_THAT(platform.lines,
              ElementsAre("vpnsetup.exe 2019061101", "* user mode",
                          "vpnsetup.exe [/u] [/l] [/a] [/r] [/R]", "/u - update only (no create)",
                          "/l - force local gateway (internet access through local connection)",
                          "/g - force remote gateway (internet access through vpn connection)",
                          "/a - all users connection (admin only)",
                          "/r - SSTP NoCertRevocationCheck (admin only)",
                          "/R - SSTP CertRevocationCheck (admin only)"));
  const auto value = platform.RegistryValue(kSstpKey, "NoCertRevocationCheck");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->data, std::string("\x01\x00\x00\x00", 4));
  EXPECT_THAT(platform.sleeps, ElementsAre(100, 100, 100));
}

TEST_F(StartupTest, RegistrySwitchesWriteOneOrZero) {
  platform.isAdmin = true;
  EXPECT_EQ(Run({"/r", "/R"}), 0);
  const auto value = platform.RegistryValue(kSstpKey, "NoCertRevocationCheck");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->type, 4u);
  EXPECT_EQ(value->data, std::string(4, '\0'));
  EXPECT_THAT(StartLines(), ElementsAre("vpnsetup.exe 2019061101", "* user mode"));
}

TEST_F(StartupTest, RegistrySwitchWithoutRightsIsLoggedAndTheRunGoesOn) {
  EXPECT_EQ(Run({"/R", "/r"}), kExitNotAdministrator);
  EXPECT_THAT(StartLines(),
              ElementsAre("vpnsetup.exe 2019061101", "* user mode",
                          "/R NoCertRevocationCheck=0 ignored - not running as administrator !",
                          "/r NoCertRevocationCheck=1 ignored - not running as administrator !"));
  EXPECT_THAT(platform.sleeps, ElementsAre(100, 100, 100, 1000, 3300));
  EXPECT_TRUE(platform.regValues.empty());
}

TEST_F(StartupTest, UnknownSwitchesAreIgnoredSilently) {
  EXPECT_EQ(Run({"/x", "/U", "/A", "u", "/?x", "/r "}), 0);
  EXPECT_THAT(StartLines(), ElementsAre("vpnsetup.exe 2019061101", "* user mode"));
  EXPECT_THAT(platform.calls, IsEmpty());
}

// However the value stays unwritten, the process ends with the report of a failed write
// before any phonebook is read.
TEST_F(StartupTest, UnwrittenRegistryValueEndsTheProcessWithTheReport) {
  const std::string key =
      "HKEY_LOCAL_MACHINE\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\SSTPSVC\\PARAMETERS";
  struct Case {
    const char* what;
    std::function<void(FakePlatform&)> setUp;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"write refused", [](FakePlatform& p) { p.setValueStatus = 5; }, {"/u", "/r", "/?"}},
      {"key opens only for reading",
       [&key](FakePlatform& p) {
         p.regKeys.insert(key);
         p.regReadOnlyKeys.insert(key);
       },
       {"/r"}},
      {"key neither created nor opened",
       [](FakePlatform& p) {
         p.createKeyStatus = 5;
         p.openKeyStatus = 5;
       },
       {"/R", "/a"}},
      {"registry unreachable",
       [](FakePlatform& p) {
         p.createKeyStatus = 3;
         p.openKeyStatus = 3;
       },
       {"/a", "/r"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Reset();
    platform.isAdmin = true;
    platform.exePath = "C:\\Program Files\\Corp\\VpnSetup.exe";
    c.setUp(platform);
    EXPECT_EQ(Run(c.args), kExitUnhandledError);
    EXPECT_THAT(platform.lines, ElementsAre("vpnsetup.exe 2019061101", "* user mode"));
    EXPECT_THAT(platform.sleeps, ElementsAre(100, 100, 100));
    EXPECT_TRUE(platform.regValues.empty());
    EXPECT_THAT(platform.files, IsEmpty());
    EXPECT_EQ(platform.OpenKeyCount(), 0u);
    const std::string& report = platform.errorOutput;
    const std::string head = "Exception ERegistryException in module VpnSetup.exe at ";
    ASSERT_EQ(report.substr(0, head.size()), head);
    const std::string address = report.substr(head.size(), 8);
    EXPECT_EQ(address.find_first_not_of("0123456789ABCDEF"), std::string::npos) << address;
    EXPECT_EQ(report.substr(head.size() + 8),
              ".\r\nFailed to set data for 'NoCertRevocationCheck'.\r\n\r\n");
  }
}

TEST_F(StartupTest, ErrorLinesOfTheRunGiveStatusTwoOverAnIgnoredSwitch) {
  platform = FakePlatform();  // no template: the run logs an exception
  EXPECT_EQ(Run({"/r"}), kExitErrorsLogged);
  EXPECT_THAT(platform.lines, Contains("* exception: Resource IniData not found"));
  const auto shown = Shown();
  ASSERT_GE(shown.size(), 2u);
  EXPECT_THAT(std::vector<std::string>(shown.end() - 2, shown.end()),
              ElementsAre("line vpnsetup.exe 2019061101 done ...", "sleep 3300"));
}

// A rule that sets the gateway key of entries dialling vpn1 to 0, and a created entry that
// carries 1: either override shows in one of them.
constexpr char kGatewayTemplate[] =
    "[config]\r\n"
    "mansecs=srv1\r\n"
    "cresecs=auto.vpn1\r\n"
    "[srv1]\r\n"
    "id=PhoneNumber=vpn1.example.com\r\n"
    "set=IpPrioritizeRemote=0\r\n"
    "[auto.vpn1]\r\n"
    "Type=2\r\n"
    "Guid=0123456789ABCDEF0123456799002F38\r\n"
    "PhoneNumber=vpn1.example.com\r\n"
    "IpPrioritizeRemote=1\r\n";

// The switches and the file name's words, through the whole run: which phonebooks are
// passed, where the entry is created, and which gateway value ends up in each entry.
TEST_F(StartupTest, SwitchesAndNameWordsReachTheRun) {
  struct Case {
    const char* what;
    const char* exeName;
    std::vector<std::string> args;
    bool admin;
    bool userReadOnly;
    int status;
    // IpPrioritizeRemote afterwards ("-": no such entry, "7": as before the run) of the
    // per-user [Work], the per-user created entry, the all-users [Shared] and the all-users
    // created entry.
    std::array<const char*, 4> gateway;
  };
  const Case cases[] = {
      {"no switch", "vpnsetup.exe", {}, false, false, 0, {"0", "1", "7", "-"}},
      // Rights unchecked: no all-users pass.
      {"administrator, no switch", "vpnsetup.exe", {}, true, false, 0, {"0", "1", "7", "-"}},
      {"/l", "vpnsetup.exe", {"/l"}, false, false, 0, {"0", "0", "7", "-"}},
      {"/g", "vpnsetup.exe", {"/g"}, false, false, 0, {"1", "1", "7", "-"}},
      {"/l /g", "vpnsetup.exe", {"/l", "/g"}, false, false, 0, {"1", "1", "7", "-"}},
      {"/g /l", "vpnsetup.exe", {"/g", "/l"}, false, false, 0, {"1", "1", "7", "-"}},
      {"/u", "vpnsetup.exe", {"/u"}, false, false, 0, {"0", "-", "7", "-"}},
      {"/u /g", "vpnsetup.exe", {"/u", "/g"}, false, false, 0, {"1", "-", "7", "-"}},
      {"/r, administrator", "vpnsetup.exe", {"/r"}, true, false, 0, {"0", "1", "0", "-"}},
      {"/R /g, administrator", "vpnsetup.exe", {"/R", "/g"}, true, false, 0, {"1", "1", "1", "-"}},
      {"/r, no administrator",
       "vpnsetup.exe",
       {"/r"},
       false,
       false,
       kExitNotAdministrator,
       {"0", "1", "7", "-"}},
      {"/a, administrator", "vpnsetup.exe", {"/a"}, true, false, 0, {"0", "-", "0", "1"}},
      {"/a /l, administrator", "vpnsetup.exe", {"/a", "/l"}, true, false, 0, {"0", "-", "0", "0"}},
      {"/a /u, administrator", "vpnsetup.exe", {"/a", "/u"}, true, false, 0, {"0", "-", "0", "-"}},
      {"updt", "vpnsetup-updt.exe", {}, false, false, 0, {"0", "-", "7", "-"}},
      {"locgw", "vpnsetup-locgw.exe", {}, false, false, 0, {"0", "0", "7", "-"}},
      {"remgw", "vpnsetup-remgw.exe", {}, false, false, 0, {"1", "1", "7", "-"}},
      {"admin", "vpnsetup-admin.exe", {}, true, false, 0, {"0", "-", "0", "1"}},
      // An error in the passes: logged, the run still ends as always, status 2.
      {"read-only per-user phonebook",
       "vpnsetup.exe",
       {},
       false,
       true,
       kExitErrorsLogged,
       {"7", "-", "7", "-"}},
  };
  const auto gatewayOf = [this](const char* path, const char* entry) {
    const auto file = platform.files.find(path);
    if (file == platform.files.end()) return std::string("-");
    TMemIniFile phonebook(platform, "");
    phonebook.LoadText(file->second);
    return phonebook.GetValue(entry, "IpPrioritizeRemote", "-");
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Reset();
    platform.AddResource("IniData", kRcDataType, kGatewayTemplate);
    platform.AddFile(kUserPbk,
                     "[Work]\r\nPhoneNumber=vpn1.example.com\r\nIpPrioritizeRemote=7\r\n\r\n");
    platform.AddFile(kAllUsersPbk,
                     "[Shared]\r\nPhoneNumber=vpn1.example.com\r\nIpPrioritizeRemote=7\r\n\r\n");
    if (c.userReadOnly) platform.readOnlyFiles.insert(kUserPbk);
    platform.exePath = std::string("C:\\Tools\\") + c.exeName;
    platform.isAdmin = c.admin;
    EXPECT_EQ(Run(c.args), c.status);
    EXPECT_EQ(gatewayOf(kUserPbk, "Work"), c.gateway[0]);
    EXPECT_EQ(gatewayOf(kUserPbk, "auto.vpn1"), c.gateway[1]);
    EXPECT_EQ(gatewayOf(kAllUsersPbk, "Shared"), c.gateway[2]);
    EXPECT_EQ(gatewayOf(kAllUsersPbk, "auto.vpn1"), c.gateway[3]);
    const auto shown = Shown();
    ASSERT_GE(shown.size(), 2u);
    EXPECT_EQ(shown.end()[-2], "line " + ExeNameOf(platform, c.exeName) + " 2019061101 done ...");
    EXPECT_EQ(shown.back(), "sleep 3300");
  }
}

TEST_F(StartupTest, UpdateOnlyMeansNoPhonebookIsRead) {
  EXPECT_EQ(Run({"/u"}), 0);
  EXPECT_THAT(platform.lines, Not(Contains(HasSubstr("* reading: "))));
  EXPECT_THAT(platform.files, IsEmpty());
}

TEST(UnhandledErrorReport, NamesTheModuleAndAddsAFullStopOnlyWhenMissing) {
  const Exception plain("Disk on fire");
  const Exception stopped("Done.");
  FakePlatform platform;
  platform.exePath = "C:\\a\\b.exe";
  platform.moduleBase = plain.RaiseAddress() - 0x1234;
  EXPECT_EQ(UnhandledErrorReport(platform, plain),
            "Exception Exception in module b.exe at 00001234.\r\nDisk on fire.\r\n\r\n");
  platform.exePath = "b.exe";
  platform.moduleBase = stopped.RaiseAddress();
  EXPECT_EQ(UnhandledErrorReport(platform, stopped),
            "Exception Exception in module b.exe at 00000000.\r\nDone.\r\n\r\n");
  // The text after the last backslash, a colon kept, none cut in a character.
  platform.exePath = "C:\\T\\a:\203\\B.exe";
  platform.leadByteRanges = FakePlatform::kCp932LeadBytes;
  EXPECT_EQ(UnhandledErrorReport(platform, stopped),
            "Exception Exception in module a:\203\\B.exe at 00000000.\r\nDone.\r\n\r\n");
}

}  // namespace
}  // namespace lw
