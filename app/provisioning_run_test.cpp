#include "app/provisioning_run.h"

#include <algorithm>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/fake_platform.h"

namespace lw {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr char kTemplate[] =
    "[config]\r\n"
    "mansecs=srv1\r\n"
    "cresecs=auto.vpn1\r\n"
    "[srv1]\r\n"
    "id=PhoneNumber=vpn1.example.com\r\n"
    "set=IpPrioritizeRemote=0|IpDnsFlags=1\r\n"
    "[auto.vpn1]\r\n"
    "Type=2\r\n"
    "Guid=0123456789ABCDEF0123456799002F38\r\n"
    "PhoneNumber=vpn1.example.com\r\n"
    "IpPrioritizeRemote=0\r\n";

constexpr char kUserPbk[] =
    "C:\\Users\\ann\\AppData\\Roaming\\Microsoft\\Network\\Connections\\Pbk\\rasphone.pbk";
constexpr char kUserDir[] =
    "C:\\Users\\ann\\AppData\\Roaming\\Microsoft\\Network\\Connections\\Pbk";
constexpr char kAllPbk[] = "C:\\ProgramData\\Microsoft\\Network\\Connections\\Pbk\\rasphone.pbk";

constexpr char kCreated[] =
    "[auto.vpn1]\r\n"
    "Type=2\r\n"
    "Guid=0123456789ABCDEF0123456799002F39\r\n"
    "PhoneNumber=vpn1.example.com\r\n"
    "IpPrioritizeRemote=0\r\n"
    "\r\n";

struct ProvisioningRunTest : ::testing::Test {
  FakePlatform platform;
  RunFlags flags;

  ProvisioningRunTest() {
    platform.version = {6, 2};
    platform.env["APPDATA"] = "C:\\Users\\ann\\AppData\\Roaming";
    platform.env["ProgramData"] = "C:\\ProgramData";
    platform.AddResource("IniData", 10, kTemplate);
    platform.dirs.insert("C:");
  }

  // Runs and returns the log lines after the OS version line.
  std::vector<std::string> Run(bool* errorLogged = nullptr) {
    Log log(platform);
    RunProvisioning(platform, flags, log);
    if (errorLogged != nullptr) *errorLogged = log.ErrorLogged();
    EXPECT_EQ(platform.lines.at(0), "* OS version: 62");
    EXPECT_EQ(platform.OpenFileCount(), 0u);
    return {platform.lines.begin() + 1, platform.lines.end()};
  }
  void Admin(bool allUsers) {
    flags.IsAdministrator = true;
    flags.AllUsers = allUsers;
  }
};

TEST_F(ProvisioningRunTest, FirstRunOfANormalUserCreatesThePerUserPhonebook) {
  bool errors = true;
  EXPECT_THAT(Run(&errors),
              ElementsAre(std::string("* reading: ") + kUserPbk, "* processing *.pbk",
                          std::string("processing pbk ") + kUserPbk,
                          std::string("* processing pbk ") + kUserPbk, "* creating [auto.vpn1]"));
  EXPECT_FALSE(errors);
  EXPECT_EQ(platform.files.at(kUserPbk), kCreated);
  EXPECT_EQ(platform.files.count(kAllPbk), 0u);
  EXPECT_THAT(platform.sleeps, ElementsAre(1000));
}

TEST_F(ProvisioningRunTest, ExistingEntrySwitchesCreationOffEverywhere) {
  platform.AddFile(kUserPbk, "[auto.vpn1]\nPhoneNumber = vpn1.example.com\n; note\n");
  Admin(true);
  EXPECT_THAT(Run(), ElementsAre(std::string("* reading: ") + kUserPbk,
                                 std::string("processing pbk ") + kUserPbk, "* processing *.pbk",
                                 std::string("* processing pbk ") + kUserPbk,
                                 "* on [auto.vpn1] setting IpPrioritizeRemote=0",
                                 "* on [auto.vpn1] setting IpDnsFlags=1"));
  EXPECT_FALSE(flags.AllUsers);
  EXPECT_EQ(platform.files.at(kUserPbk),
            "[auto.vpn1]\r\nPhoneNumber=vpn1.example.com\r\nIpPrioritizeRemote=0\r\n"
            "IpDnsFlags=1\r\n\r\n");
  EXPECT_EQ(platform.files.count(kAllPbk), 0u);
}

TEST_F(ProvisioningRunTest, UpdateOnlyMakesTheFolderButNoFile) {
  flags.CreateEnabled = false;
  EXPECT_THAT(Run(), ElementsAre("* processing *.pbk"));
  EXPECT_EQ(platform.dirs.count(kUserDir), 1u);
  EXPECT_THAT(platform.files, IsEmpty());
  EXPECT_THAT(platform.sleeps, IsEmpty());
}

TEST_F(ProvisioningRunTest, AllUsersRunCreatesThereAndOnlyUpdatesThePerUserPhonebook) {
  platform.AddFile(kUserPbk, "[Work]\r\nPhoneNumber=vpn1.example.com\r\n");
  Admin(true);
  EXPECT_THAT(
      Run(),
      ElementsAre(std::string("* reading: ") + kUserPbk, std::string("processing pbk ") + kUserPbk,
                  std::string("* reading: ") + kAllPbk, "* processing *.pbk",
                  std::string("processing pbk ") + kAllPbk,
                  std::string("* processing pbk ") + kAllPbk, "* creating [auto.vpn1]",
                  std::string("* processing pbk ") + kUserPbk,
                  "* on [Work] setting IpPrioritizeRemote=0", "* on [Work] setting IpDnsFlags=1"));
  EXPECT_EQ(platform.files.at(kAllPbk), kCreated);
  EXPECT_THAT(platform.files.at(kUserPbk), Not(HasSubstr("auto.vpn1")));
  EXPECT_THAT(platform.sleeps, ElementsAre(1000, 1000));
}

TEST_F(ProvisioningRunTest, AllUsersPhonebookWithoutTheEntryIsProbedTwice) {
  platform.AddFile(kAllPbk, "[Other]\r\nType=2\r\n");
  Admin(true);
  const auto lines = Run();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), std::string("processing pbk ") + kAllPbk), 2);
  EXPECT_EQ(platform.files.at(kAllPbk), "[Other]\r\nType=2\r\n\r\n" + std::string(kCreated));
}

TEST_F(ProvisioningRunTest, AllUsersPhonebookHoldingTheEntryStopsCreation) {
  platform.AddFile(kAllPbk, "[auto.vpn1]\r\nType=2\r\n");
  Admin(true);
  const auto lines = Run();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), std::string("processing pbk ") + kAllPbk), 1);
  EXPECT_THAT(lines, Not(Contains(HasSubstr("creating"))));
  // Creation is off after the pre-check, so the per-user phonebook is left alone.
  EXPECT_EQ(platform.files.count(kUserPbk), 0u);
}

TEST_F(ProvisioningRunTest, AdministratorWithoutAllUsersUpdatesBothCreatesPerUser) {
  Admin(false);
  EXPECT_THAT(Run(),
              ElementsAre(std::string("* reading: ") + kUserPbk, "* processing *.pbk",
                          std::string("* processing pbk ") + kAllPbk,
                          std::string("processing pbk ") + kUserPbk,
                          std::string("* processing pbk ") + kUserPbk, "* creating [auto.vpn1]"));
  EXPECT_EQ(platform.files.at(kAllPbk), "");
  EXPECT_EQ(platform.files.at(kUserPbk), kCreated);
}

TEST_F(ProvisioningRunTest, UnsetVariablesLeaveTheBareSuffix) {
  platform.env.clear();
  flags.CreateEnabled = false;
  Run();
  EXPECT_EQ(platform.dirs.count("\\Microsoft\\Network\\Connections\\Pbk"), 1u);
}

TEST_F(ProvisioningRunTest, MissingTemplateEndsTheRun) {
  FakePlatform bare;
  bare.version = {6, 2};
  Log log(bare);
  RunProvisioning(bare, flags, log);
  EXPECT_THAT(bare.lines,
              ElementsAre("* OS version: 62", "* exception: Resource IniData not found"));
  EXPECT_TRUE(log.ErrorLogged());
}

TEST_F(ProvisioningRunTest, UnreadablePhonebookInThePreCheckEndsTheRun) {
  platform.AddFile(kUserPbk, "[a]\r\nx=1\r\n");
  platform.lockedFiles.insert(kUserPbk);
  bool errors = false;
  const auto lines = Run(&errors);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1],
            std::string("* exception: Cannot open file \"") + kUserPbk + "\". System error 32");
  EXPECT_TRUE(errors);
  EXPECT_EQ(platform.files.at(kUserPbk), "[a]\r\nx=1\r\n");
}

TEST_F(ProvisioningRunTest, UnwritablePhonebookAbandonsThePassesOnly) {
  platform.CreateDirectories(kUserDir);
  platform.readOnlyDirs.insert(kUserDir);
  Admin(false);
  bool errors = false;
  const auto lines = Run(&errors);
  EXPECT_TRUE(errors);
  EXPECT_EQ(lines.back(),
            std::string("* exception: Cannot create file \"") + kUserPbk + "\". System error 5");
  // The all-users pass before it was written and slept as usual.
  EXPECT_EQ(platform.files.count(kAllPbk), 1u);
  EXPECT_THAT(platform.sleeps, ElementsAre(1000));
  EXPECT_TRUE(platform.FilesContaining(".tmp").empty());
}

}  // namespace
}  // namespace lw
