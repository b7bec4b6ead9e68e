#include "app/provisioning_run.h"

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ini/text_file.h"
#include "provisioning/template.h"
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

// A machine with both folders set and no phonebook yet; one per table row.
struct Machine {
  FakePlatform platform;
  RunFlags flags;

  Machine() {
    platform.version = {6, 2};
    platform.env["APPDATA"] = "C:\\Users\\ann\\AppData\\Roaming";
    platform.env["ProgramData"] = "C:\\ProgramData";
    platform.AddResource("IniData", kRcDataType, kTemplate);
    platform.dirs.insert("C:");
  }

  // Runs and returns the log lines after the OS version line.
  std::vector<std::string> Provision(bool* errorLogged = nullptr) {
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

struct ProvisioningRunTest : ::testing::Test, Machine {};

TEST_F(ProvisioningRunTest, FirstRunOfANormalUserCreatesThePerUserPhonebook) {
  bool errors = true;
  EXPECT_THAT(Provision(&errors),
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
  EXPECT_THAT(
      Provision(),
      ElementsAre(std::string("* reading: ") + kUserPbk, std::string("processing pbk ") + kUserPbk,
                  "* processing *.pbk", std::string("* processing pbk ") + kUserPbk,
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
  EXPECT_THAT(Provision(), ElementsAre("* processing *.pbk"));
  EXPECT_EQ(platform.dirs.count(kUserDir), 1u);
  EXPECT_THAT(platform.files, IsEmpty());
  EXPECT_THAT(platform.sleeps, IsEmpty());
}

TEST_F(ProvisioningRunTest, AllUsersRunCreatesThereAndOnlyUpdatesThePerUserPhonebook) {
  platform.AddFile(kUserPbk, "[Work]\r\nPhoneNumber=vpn1.example.com\r\n");
  Admin(true);
  EXPECT_THAT(
      Provision(),
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

TEST_F(ProvisioningRunTest, FreshAllUsersRunCreatesThereAndNoPerUserPhonebook) {
  Admin(true);
  EXPECT_THAT(
      Provision(),
      ElementsAre(std::string("* reading: ") + kUserPbk, std::string("* reading: ") + kAllPbk,
                  "* processing *.pbk", std::string("processing pbk ") + kAllPbk,
                  std::string("* processing pbk ") + kAllPbk, "* creating [auto.vpn1]"));
  // Creation is spent in the all-users pass: no per-user phonebook, no second pause.
  EXPECT_EQ(platform.files, (std::map<std::string, std::string>{{kAllPbk, kCreated}}));
  EXPECT_EQ(platform.dirs.count(kUserDir), 1u);
  EXPECT_THAT(platform.sleeps, ElementsAre(1000));
}

TEST_F(ProvisioningRunTest, PreCheckWritesAnExistingPhonebookBackBeforeThePasses) {
  platform.AddFile(kUserPbk, "[Home]\nType=1\n");
  Provision();
  const auto written = std::find(platform.events.begin(), platform.events.end(),
                                 std::string("ReplaceWith ") + kUserPbk);
  const auto passes =
      std::find(platform.events.begin(), platform.events.end(), "line * processing *.pbk");
  EXPECT_LT(written, passes);
}

TEST_F(ProvisioningRunTest, AllUsersPhonebookWithoutTheEntryIsProbedTwice) {
  platform.AddFile(kAllPbk, "[Other]\r\nType=2\r\n");
  Admin(true);
  const auto lines = Provision();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), std::string("processing pbk ") + kAllPbk), 2);
  EXPECT_EQ(platform.files.at(kAllPbk), "[Other]\r\nType=2\r\n\r\n" + std::string(kCreated));
}

TEST_F(ProvisioningRunTest, AllUsersPhonebookHoldingTheEntryStopsCreation) {
  platform.AddFile(kAllPbk, "[auto.vpn1]\r\nType=2\r\n");
  Admin(true);
  const auto lines = Provision();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), std::string("processing pbk ") + kAllPbk), 1);
  EXPECT_THAT(lines, Not(Contains(HasSubstr("creating"))));
  // Creation is off after the pre-check, so the per-user phonebook is left alone.
  EXPECT_EQ(platform.files.count(kUserPbk), 0u);
}

TEST_F(ProvisioningRunTest, AdministratorWithoutAllUsersUpdatesBothCreatesPerUser) {
  Admin(false);
  EXPECT_THAT(Provision(),
              ElementsAre(std::string("* reading: ") + kUserPbk, "* processing *.pbk",
                          std::string("* processing pbk ") + kAllPbk,
                          std::string("processing pbk ") + kUserPbk,
                          std::string("* processing pbk ") + kUserPbk, "* creating [auto.vpn1]"));
  EXPECT_EQ(platform.files.at(kAllPbk), "");
  EXPECT_EQ(platform.files.at(kUserPbk), kCreated);
}

// Without a folder, or without a full one, the path would start at the drive's root or the
// current folder, where no phonebook is read: the error stops the region that first needs
// the path, and nothing is written anywhere.
TEST_F(ProvisioningRunTest, FoldersThatCannotBeNamedStopWhereFirstNeeded) {
  const std::string userUnset = "* exception: The environment variable APPDATA is not set";
  const std::string allUnset = "* exception: The environment variable ProgramData is not set";
  const std::string userRelative = "* exception: The folder in APPDATA is not a full path";
  const struct {
    std::string name;
    std::function<void(Machine&)> setUp;
    std::vector<std::string> lines;
  } cases[] = {
      {"APPDATA unset", [](auto& t) { t.platform.env.erase("APPDATA"); }, {userUnset}},
      {"APPDATA empty, update only",
       [](auto& t) {
         t.platform.env["APPDATA"] = "";
         t.flags.CreateEnabled = false;
       },
       {"* processing *.pbk", userUnset}},
      {"APPDATA not in the code page",
       [](auto& t) { t.platform.envNotInCodePage.insert("APPDATA"); },
       {"* exception: The folder in APPDATA cannot be named in this system's code page"}},
      {"ProgramData unset, administrator",
       [](auto& t) {
         t.platform.env.erase("ProgramData");
         t.Admin(false);
       },
       {std::string("* reading: ") + kUserPbk, "* processing *.pbk", allUnset}},
      {"ProgramData unset, all users",
       [](auto& t) {
         t.platform.env.erase("ProgramData");
         t.Admin(true);
       },
       {std::string("* reading: ") + kUserPbk, allUnset}},
      {"ProgramData not in the code page, administrator",
       [](auto& t) {
         t.platform.envNotInCodePage.insert("ProgramData");
         t.Admin(false);
       },
       {std::string("* reading: ") + kUserPbk, "* processing *.pbk",
        "* exception: The folder in ProgramData cannot be named in this system's code page"}},
      // Below the folder the run starts in, or at the current drive's root, no phonebook
      // is read either.
      {"APPDATA relative", [](auto& t) { t.platform.env["APPDATA"] = "rel\\dir"; }, {userRelative}},
      {"APPDATA without a drive",
       [](auto& t) { t.platform.env["APPDATA"] = "\\users\\me\\AppData\\Roaming"; },
       {userRelative}},
      {"APPDATA on a drive without its root",
       [](auto& t) { t.platform.env["APPDATA"] = "C:foo"; },
       {userRelative}},
      {"ProgramData relative, administrator",
       [](auto& t) {
         t.platform.env["ProgramData"] = "ProgramData";
         t.Admin(false);
       },
       {std::string("* reading: ") + kUserPbk, "* processing *.pbk",
        "* exception: The folder in ProgramData is not a full path"}},
  };
  for (const auto& c : cases) {
    Machine t;
    c.setUp(t);
    bool errors = false;
    EXPECT_EQ(t.Provision(&errors), c.lines) << c.name;
    EXPECT_TRUE(errors) << c.name;
    EXPECT_THAT(t.platform.files, IsEmpty()) << c.name;
    EXPECT_EQ(t.platform.dirs, std::set<std::string>{"C:"}) << c.name;
  }
  // A run that never needs the all-users folder does not miss it.
  Machine t;
  t.platform.env.erase("ProgramData");
  bool errors = true;
  t.Provision(&errors);
  EXPECT_FALSE(errors);
  EXPECT_EQ(t.platform.files.at(kUserPbk), kCreated);
}

// In code page 932 "\x83\x5C" and "\x95\x5C" are characters, not a byte and a separator:
// the folders made are the profile's own, and a link below it is still refused.
TEST_F(ProvisioningRunTest, DoubleByteCharactersEndingInABackslashAreNoSeparators) {
  const std::string user = "C:\\dbcs\\\x83\x5C\x83\x74\x83\x67\x95\x5C";
  const std::string appData = user + "\\AppData\\Roaming";
  const std::string pbk = appData + "\\Microsoft\\Network\\Connections\\Pbk\\rasphone.pbk";
  const struct {
    std::string name;
    std::string link;
    std::vector<std::string> lines;
    std::set<std::string> dirs;
  } cases[] = {
      {"no link",
       "",
       {"* reading: " + pbk, "* processing *.pbk", "processing pbk " + pbk,
        "* processing pbk " + pbk, "* creating [auto.vpn1]"},
       {"C:", "C:\\dbcs", user, user + "\\AppData", appData, appData + "\\Microsoft",
        appData + "\\Microsoft\\Network", appData + "\\Microsoft\\Network\\Connections",
        appData + "\\Microsoft\\Network\\Connections\\Pbk"}},
      {"a link below the profile",
       appData + "\\Microsoft",
       {"* reading: " + pbk,
        "* exception: Cannot open file \"" + pbk + "\". The path leads through a link or junction"},
       {"C:"}},
  };
  for (const auto& c : cases) {
    Machine t;
    t.platform.leadByteRanges = FakePlatform::kCp932LeadBytes;
    t.platform.env["APPDATA"] = appData;
    if (!c.link.empty()) t.platform.links.insert(c.link);
    EXPECT_EQ(t.Provision(), c.lines) << c.name;
    EXPECT_EQ(t.platform.dirs, c.dirs) << c.name;
    EXPECT_EQ(t.platform.files.count(pbk), c.link.empty() ? 1u : 0u) << c.name;
  }
}

TEST_F(ProvisioningRunTest, EachCycleHoldsItsPhonebookFromOpeningToWriting) {
  Provision();
  const std::string user = kUserPbk;
  EXPECT_THAT(platform.FileCalls(),
              ElementsAre("TrustFolder C:\\Users\\ann\\AppData\\Roaming",
                          // The pre-check finds no folder to hold and no phonebook.
                          "LockFile " + user, "OpenForRead " + user, "LockFile " + user,
                          "OpenForRead " + user, "RemoveStaleTemps " + user,
                          "CreateTempBeside " + user, "ReplaceWith " + user, "UnlockFile " + user));
  EXPECT_EQ(platform.HeldLocks(), 0u);
}

TEST_F(ProvisioningRunTest, AnotherRunHoldingAPhonebookStopsTheRegionAndWritesNothing) {
  const std::string held = "\". Another run of this tool holds the file";
  const struct {
    std::string name;
    std::string busy;
    bool admin;
    std::vector<std::string> lines;
  } cases[] = {
      {"per-user, in the pre-check",
       kUserPbk,
       false,
       {std::string("* reading: ") + kUserPbk,
        std::string("* exception: Cannot open file \"") + kUserPbk + held}},
      {"all-users, in the passes",
       kAllPbk,
       true,
       {std::string("* reading: ") + kUserPbk, std::string("processing pbk ") + kUserPbk,
        "* processing *.pbk", std::string("* exception: Cannot open file \"") + kAllPbk + held}},
  };
  for (const auto& c : cases) {
    Machine t;
    t.platform.AddFile(kUserPbk, "[Home]\r\nType=1\r\n\r\n");
    t.platform.busyFiles.insert(c.busy);
    if (c.admin) t.Admin(false);
    bool errors = false;
    EXPECT_EQ(t.Provision(&errors), c.lines) << c.name;
    EXPECT_TRUE(errors) << c.name;
    EXPECT_EQ(t.platform.files,
              (std::map<std::string, std::string>{{kUserPbk, "[Home]\r\nType=1\r\n\r\n"}}))
        << c.name;
    EXPECT_EQ(t.platform.HeldLocks(), 0u) << c.name;
  }
}

// Another program (the connection UI, the RAS service) that saves the phonebook while a run
// works on it: the run reads it again and does its work on that text, a few times at most.
TEST_F(ProvisioningRunTest, AnotherProgramsSaveMeanwhileIsNeverOverwritten) {
  const std::string home = "[Home]\r\nType=1\r\n\r\n";
  const std::string other = "[Other]\r\nType=1\r\n\r\n";
  const std::string work = "[Work]\r\nPhoneNumber=vpn1.example.com\r\n\r\n";
  const std::string again = std::string("processing pbk ") + kUserPbk;
  const std::string pass = std::string("* processing pbk ") + kUserPbk;
  const struct {
    std::string name;
    std::optional<std::string> before;  // the phonebook when the run starts
    int writes;                         // saves of the other program, one per replace
    std::function<void(FakePlatform&)> write;
    std::vector<std::string> lines;  // after "* processing *.pbk"
    std::string after;               // empty: the error line, the other's text kept
  } cases[] = {
      {"appends an entry",
       home,
       1,
       [&](FakePlatform& p) { p.files[kUserPbk] += other; },
       {again, pass, "* creating [auto.vpn1]", again, pass, "* creating [auto.vpn1]"},
       home + other + kCreated},
      {"makes the phonebook the run found missing",
       std::nullopt,
       1,
       [&](FakePlatform& p) { p.AddFile(kUserPbk, other); },
       {again, pass, "* creating [auto.vpn1]", again, pass, "* creating [auto.vpn1]"},
       other + kCreated},
      {"puts a new file in its place",
       home,
       1,
       [&](FakePlatform& p) {
         EXPECT_EQ(p.RemoveFile(kUserPbk), 0u);
         p.AddFile(kUserPbk, work);
       },
       {again, pass, "* creating [auto.vpn1]", again, pass,
        "* on [Work] setting IpPrioritizeRemote=0", "* on [Work] setting IpDnsFlags=1",
        "* creating [auto.vpn1]"},
       "[Work]\r\nPhoneNumber=vpn1.example.com\r\nIpPrioritizeRemote=0\r\nIpDnsFlags=1\r\n\r\n" +
           std::string(kCreated)},
      {"creates the connection itself",
       home,
       1,
       [&](FakePlatform& p) { p.files[kUserPbk] = std::string(kCreated); },
       {again, pass, "* creating [auto.vpn1]", again, pass,
        "* on [auto.vpn1] setting IpPrioritizeRemote=0", "* on [auto.vpn1] setting IpDnsFlags=1"},
       "[auto.vpn1]\r\nType=2\r\nGuid=0123456789ABCDEF0123456799002F39\r\n"
       "PhoneNumber=vpn1.example.com\r\nIpPrioritizeRemote=0\r\nIpDnsFlags=1\r\n\r\n"},
      {"keeps changing it",
       home,
       100,
       [&](FakePlatform& p) { p.files[kUserPbk] += other; },
       {},
       ""},
  };
  for (const auto& c : cases) {
    Machine t;
    if (c.before) t.platform.AddFile(kUserPbk, *c.before);
    int writes = c.writes;
    t.platform.beforeReplace = [&](FakePlatform& p, const std::string& target) {
      if (target == kUserPbk && writes-- > 0) c.write(p);
    };
    bool errors = false;
    const auto lines = t.Provision(&errors);
    const auto start = std::find(lines.begin(), lines.end(), "* processing *.pbk");
    ASSERT_NE(start, lines.end()) << c.name;
    EXPECT_TRUE(t.platform.FilesContaining("~lw").empty()) << c.name;
    EXPECT_EQ(t.platform.HeldLocks(), 0u) << c.name;
    if (c.after.empty()) {
      EXPECT_TRUE(errors) << c.name;
      EXPECT_EQ(lines.back(), std::string("* exception: Cannot create file \"") + kUserPbk +
                                  "\". Another program changed the file meanwhile")
          << c.name;
      EXPECT_EQ(std::count(lines.begin(), lines.end(), "* creating [auto.vpn1]"), 4) << c.name;
      EXPECT_EQ(t.platform.files.at(kUserPbk), home + other + other + other + other) << c.name;
      continue;
    }
    EXPECT_FALSE(errors) << c.name;
    EXPECT_EQ(std::vector<std::string>(start + 1, lines.end()), c.lines) << c.name;
    EXPECT_EQ(t.platform.files.at(kUserPbk), c.after) << c.name;
    EXPECT_THAT(t.platform.sleeps, ElementsAre(1000)) << c.name;
  }
}

// A scanner or a backup agent that holds the phonebook, while the run reads or while it
// replaces it, is waited for as long as another run would be, and no longer.
TEST_F(ProvisioningRunTest, PhonebooksHeldByAnotherProgramAreWaitedFor) {
  const std::string old = "[Home]\r\nType=1\r\n\r\n";
  const struct {
    std::string name;
    bool atReplace;
    std::uint64_t heldMs;
    bool saved;
  } cases[] = {
      {"6 s while it reads", false, 6000, true},
      {"6 s while it replaces", true, 6000, true},
      {"59 s while it replaces", true, 59000, true},
      {"past the wait while it reads", false, 61000, false},
      {"past the wait while it replaces", true, 61000, false},
  };
  for (const auto& c : cases) {
    Machine t;
    t.flags.CreateEnabled = true;
    t.platform.AddFile(kUserPbk, old);
    bool once = true;
    if (c.atReplace) {
      t.platform.beforeReplace = [&](FakePlatform& p, const std::string&) {
        if (std::exchange(once, false)) p.heldUntil[kUserPbk] = p.clockMs + c.heldMs;
      };
    } else {
      t.platform.heldUntil[kUserPbk] = c.heldMs;
    }
    bool errors = false;
    const auto lines = t.Provision(&errors);
    EXPECT_EQ(errors, !c.saved) << c.name;
    EXPECT_EQ(t.platform.files.at(kUserPbk), c.saved ? old + kCreated : old) << c.name;
    std::uint64_t waited = 0;
    for (const std::uint32_t ms : t.platform.sleeps) waited += ms == 1000 ? 0 : ms;
    if (c.saved) {
      EXPECT_GE(waited, c.heldMs) << c.name;
      EXPECT_LE(waited, c.heldMs + 500) << c.name;
    } else {
      EXPECT_EQ(waited, kLockWaitMs) << c.name;
      const std::string verb = c.atReplace ? "create" : "open";
      EXPECT_EQ(lines.back(),
                "* exception: Cannot " + verb + " file \"" + kUserPbk + "\". System error 32")
          << c.name;
    }
    EXPECT_TRUE(t.platform.FilesContaining("~lw").empty()) << c.name;
  }
}

// A drive or share that does not answer (a mapped drive of another logon, a server that
// is down) is no sign that the phonebook is missing: nothing is created elsewhere instead.
TEST_F(ProvisioningRunTest, UnreachablePerUserPhonebookStopsTheRun) {
  const std::string user =
      "H:\\Profile\\AppData\\Roaming\\Microsoft\\Network\\Connections\\Pbk\\rasphone.pbk";
  const std::string away = "* exception: Cannot open file \"" + user +
                           "\". The drive or network share that holds it does not answer";
  const struct {
    std::string name;
    bool allUsers;
    bool createEnabled;
    std::vector<std::string> lines;
  } cases[] = {
      {"all users", true, true, {"* reading: " + user, away}},
      {"user", false, true, {"* reading: " + user, away}},
      {"update only", false, false, {"* processing *.pbk", away}},
  };
  for (const auto& c : cases) {
    Machine t;
    t.platform.env["APPDATA"] = "H:\\Profile\\AppData\\Roaming";
    t.platform.unreachableVolumes.insert("H:");
    t.flags.CreateEnabled = c.createEnabled;
    if (c.allUsers) t.Admin(true);
    bool errors = false;
    EXPECT_EQ(t.Provision(&errors), c.lines) << c.name;
    EXPECT_TRUE(errors) << c.name;
    EXPECT_THAT(t.platform.files, IsEmpty()) << c.name;
  }
}

// AppData redirected to a file server whose share grants "Change" only: a phonebook that
// inherits its folder's access list is saved; one with a list of its own is kept as it is,
// never saved open to whoever the folder lets in.
TEST_F(ProvisioningRunTest, RedirectedPhonebookOnAShareKeepsItsProtection) {
  const std::string old = "[Home]\r\nType=1\r\n\r\n";
  for (const bool own : {false, true}) {
    Machine t;
    t.platform.AddFile(kUserPbk, old);
    t.platform.sharesWithoutSecurityRights.insert(kUserDir);
    if (own) t.platform.ownAccessLists.insert(kUserPbk);
    bool errors = !own;
    const auto lines = t.Provision(&errors);
    EXPECT_EQ(errors, own) << own;
    EXPECT_EQ(t.platform.files.at(kUserPbk), own ? old : old + kCreated) << own;
    if (own) {
      EXPECT_EQ(lines.back(), std::string("* exception: Cannot create file \"") + kUserPbk +
                                  "\". System error 5");
    }
    EXPECT_TRUE(t.platform.FilesContaining("~lw").empty()) << own;
  }
}

TEST_F(ProvisioningRunTest, UpToDatePhonebooksAreNotWrittenAgain) {
  // The first run creates the entry, the second enforces the managed values on it.
  for (int run = 0; run < 2; ++run) {
    flags = RunFlags();
    Admin(false);
    platform.lines.clear();
    Provision();
  }
  const auto firstFiles = platform.files;
  const std::size_t firstCalls = platform.FileCalls().size();
  for (const auto& [path, bytes] : firstFiles) platform.readOnlyFiles.insert(path);
  flags = RunFlags();
  Admin(false);
  platform.lines.clear();
  bool errors = true;
  Provision(&errors);
  EXPECT_FALSE(errors);
  EXPECT_EQ(platform.files, firstFiles);
  const auto calls = platform.FileCalls();
  const std::vector<std::string> second(calls.begin() + static_cast<std::ptrdiff_t>(firstCalls),
                                        calls.end());
  EXPECT_THAT(second, Not(Contains(HasSubstr("CreateTempBeside"))));
  EXPECT_THAT(second, Not(Contains(HasSubstr("ReplaceWith"))));
}

TEST_F(ProvisioningRunTest, ReadOnlyPhonebookThatNeedsAChangeIsReportedAndKept) {
  const std::string old = "[Work]\r\nPhoneNumber=vpn1.example.com\r\n\r\n";
  platform.AddFile(kUserPbk, old);
  platform.readOnlyFiles.insert(kUserPbk);
  flags.CreateEnabled = false;
  bool errors = false;
  const auto lines = Provision(&errors);
  EXPECT_TRUE(errors);
  EXPECT_EQ(lines.back(),
            std::string("* exception: Cannot create file \"") + kUserPbk + "\". System error 5");
  EXPECT_EQ(platform.files.at(kUserPbk), old);
  EXPECT_TRUE(platform.FilesContaining(".tmp").empty());
}

TEST_F(ProvisioningRunTest, OnlyNothingThereCountsAsNoPhonebook) {
  const std::string cannot = std::string("* exception: Cannot open file \"") + kUserPbk + "\". ";
  const struct {
    std::string name;
    std::function<void(FakePlatform&)> setUp;
    std::string error;  // empty: the phonebook counts as absent and is created
  } cases[] = {
      {"missing", nullptr, ""},
      {"folder in its place", [](FakePlatform& p) { p.CreateDirectories(kUserPbk); },
       std::string("* exception: Cannot create file \"") + kUserPbk + "\". System error 5"},
      {"access denied", [](FakePlatform& p) { p.openErrors[kUserPbk] = 5; },
       cannot + "System error 5"},
      {"sharing violation", [](FakePlatform& p) { p.openErrors[kUserPbk] = 32; },
       cannot + "System error 32"},
      {"link in the path", [](FakePlatform& p) { p.links.insert(kUserDir); },
       cannot + "The path leads through a link or junction"},
      {"not a regular file", [](FakePlatform& p) { p.openErrors[kUserPbk] = kErrorNotRegularFile; },
       cannot + "Not a regular file"},
  };
  for (const auto& c : cases) {
    Machine t;
    t.flags.CreateEnabled = false;  // straight to the per-user pass
    t.flags.CreateEnabled = true;
    if (c.setUp) c.setUp(t.platform);
    bool errors = false;
    const auto lines = t.Provision(&errors);
    EXPECT_EQ(errors, !c.error.empty()) << c.name;
    if (c.error.empty()) {
      EXPECT_EQ(t.platform.files.at(kUserPbk), kCreated) << c.name;
    } else {
      EXPECT_EQ(lines.back(), c.error) << c.name;
      EXPECT_EQ(t.platform.files.count(kUserPbk), 0u) << c.name;
    }
  }
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
  const auto lines = Provision(&errors);
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
  const auto lines = Provision(&errors);
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
