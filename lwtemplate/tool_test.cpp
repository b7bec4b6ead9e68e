#include "lwtemplate/tool.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "app/provisioning_run.h"
#include "app/startup.h"
#include "lwtemplate/entry_template.h"
#include "lwtemplate/stamp.h"
#include "lwtemplate/test_image.h"
#include "lwtemplate/text_diff.h"
#include "tests/fake_platform.h"
#include "tests/temp_dir.h"

namespace lw {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

constexpr std::string_view kValidTemplate =
    "[config]\r\ncresecs=E\r\n[E]\r\nGuid=0123456789ABCDEF0123456789ABCDEF\r\n";
constexpr std::string_view kUsage = "usage: lwtemplate check TEMPLATE\n";

// Input files on disk (the tool reads them with the C++ library); the console and the
// written files in a fake platform.
class ToolTest : public testing::Test {
 protected:
  int Run(std::vector<std::string> args) { return RunTemplateTool(platform_, args); }

  std::string File(const std::string& name, const std::string& bytes) {
    dir_.Write(name, bytes);
    return dir_.Native(name).string();
  }
  // A phonebook, read through the platform as a run reads it.
  std::string Phonebook(const std::string& name, const std::string& bytes) {
    const std::string path = "C:\\pbk\\" + name;
    platform_.AddFile(path, bytes);
    return path;
  }

  FakePlatform platform_;
  TempDir dir_;
};

TEST_F(ToolTest, UsageErrorsAreRefusals) {
  const struct {
    std::vector<std::string> args;
    const char* problem;
  } cases[] = {
      {{}, "lwtemplate: no command given\n"},
      {{"frob"}, "lwtemplate: unknown command \"frob\"\n"},
      {{"check"}, "lwtemplate: check takes one file: TEMPLATE\n"},
      {{"check", "a", "b"}, "lwtemplate: check takes one file: TEMPLATE\n"},
      {{"stamp", "a", "b"}, "lwtemplate: stamp takes three files: TEMPLATE IN.exe OUT.exe\n"},
      {{"from-phonebook", "a"}, "lwtemplate: from-phonebook takes PHONEBOOK and ENTRY\n"},
      {{"from-phonebook", "a", "b", "--manage"}, "lwtemplate: --manage needs a list of keys\n"},
      {{"show"}, "lwtemplate: show takes one file: EXE\n"},
      {{"show", "a", "--output"}, "lwtemplate: --output needs a file name\n"},
      {{"plan", "a"}, "lwtemplate: plan takes EXE or TEMPLATE, then PHONEBOOK...\n"},
      {{"plan", "a", "/u", "/g"}, "lwtemplate: plan takes EXE or TEMPLATE, then PHONEBOOK...\n"},
      {{"plan", "a", "b", "c", "--output", "d"}, "lwtemplate: --output takes one PHONEBOOK\n"},
      {{"plan", "a", "b", "/a"},
       "lwtemplate: plan shows a per-user run, with /u, /l and /g; /a is not planned\n"},
      {{"plan", "a", "b", "/R"},
       "lwtemplate: plan shows a per-user run, with /u, /l and /g; /R is not planned\n"},
  };
  for (const auto& c : cases) {
    FakePlatform platform;
    EXPECT_EQ(RunTemplateTool(platform, c.args), kToolRefused) << c.problem;
    EXPECT_EQ(platform.errorOutput.substr(0, platform.errorOutput.find("usage:")), c.problem);
    EXPECT_THAT(platform.errorOutput, HasSubstr(kUsage));
    EXPECT_THAT(platform.lines, IsEmpty());
  }
}

TEST_F(ToolTest, HelpNamesTheCommandsAndTheDefaultKeys) {
  EXPECT_EQ(Run({"--help"}), kToolSuccess);
  EXPECT_EQ(platform_.lines.front(), "usage: lwtemplate check TEMPLATE");
  EXPECT_THAT(platform_.lines,
              testing::Contains("    UseRasCredentials,SwCompression,PreviewDomain,AutoLogon,"
                                "ExcludedProtocols,IpDnsSuffix,IpPrioritizeRemote,IpDnsFlags)."));
  EXPECT_THAT(platform_.lines, testing::Contains(HasSubstr("Sign OUT.exe after stamping")));
  EXPECT_THAT(platform_.lines, testing::Contains("       lwtemplate show EXE [--output FILE]"));
  EXPECT_THAT(platform_.lines, testing::Contains("Provisioning templates for vpnsetup.exe, "
                                                 "Linkwright " LW_RELEASE_VERSION "."));
  EXPECT_EQ(platform_.errorOutput, "");
  platform_.lines.clear();
  EXPECT_EQ(Run({"--version"}), kToolSuccess);
  EXPECT_THAT(platform_.lines, ElementsAre("lwtemplate " LW_RELEASE_VERSION " (Linkwright)"));
}

TEST_F(ToolTest, CheckSaysInOneLineWhatAUsableTemplateHolds) {
  const struct {
    std::string text;
    const char* summary;
  } cases[] = {
      {std::string(kValidTemplate), "0 rules, 1 creatable entry, 65 bytes"},
      {"[config]\nmansecs=a|b\ncresecs=\n[a]\nid=k=v\n[b]\nid=k=w\n",
       "2 rules, 0 creatable entries, 52 bytes"},
      {"[config]\nmansecs=a\n[a]\nid=k=v\n", "1 rule, 0 creatable entries, 30 bytes"},
  };
  for (const auto& c : cases) {
    platform_.lines.clear();
    const std::string path = File("t.ini", c.text);
    EXPECT_EQ(Run({"check", path}), kToolSuccess);
    EXPECT_EQ(platform_.errorOutput, "");
    EXPECT_THAT(platform_.lines, ElementsAre(path + ": template good: " + c.summary));
  }
}

TEST_F(ToolTest, CheckNamesTheFileSectionKeyAndProblem) {
  const std::string path = File("t.ini", "[config]\r\ncresecs=E|F\r\n[E]\r\nGuid=1\r\n");
  EXPECT_EQ(Run({"check", path}), kToolRefused);
  EXPECT_EQ(platform_.errorOutput,
            path + ": [config] cresecs: lists \"F\", but there is no such section\n" + path +
                ": [E] Guid: \"1\" is not; it must be 32 hexadecimal digits\n" + path +
                ": template refused (2 problems)\n");
}

TEST_F(ToolTest, CheckRefusesFilesItCannotRead) {
  const std::string missing = dir_.Native("missing.ini").string();
  EXPECT_EQ(Run({"check", missing}), kToolRefused);
  EXPECT_EQ(platform_.errorOutput, missing + ": no such file\n");
  platform_.errorOutput.clear();
  EXPECT_EQ(Run({"check", dir_.Native().string()}), kToolRefused);
  EXPECT_EQ(platform_.errorOutput, dir_.Native().string() + ": is not a file\n");
  platform_.errorOutput.clear();
  const std::string bom = File("bom.ini", "\xEF\xBB\xBF" + std::string(kValidTemplate));
  EXPECT_EQ(Run({"check", bom}), kToolRefused);
  EXPECT_THAT(platform_.errorOutput, HasSubstr(bom + ": starts with a UTF-8 byte-order mark"));
  EXPECT_THAT(platform_.errorOutput, HasSubstr(bom + ": template refused (1 problem)\n"));
}

class StampCommandTest : public ToolTest {
 protected:
  void SetUp() override {
    TestImageShape shape;
    shape.capacity = 128;
    exe_ = BuildTestImage(shape).bytes;
    in_ = File("vpnsetup.exe", exe_);
    platform_.dirs.insert("C:\\out");
    // The input on disk, and another name of it (a short name, say).
    platform_.identities[in_] = {7, 1};
    platform_.identities[kShortName] = {7, 1};
  }
  void ExpectNothingWritten() {
    EXPECT_EQ(platform_.files.count(out_), 0u);
    EXPECT_THAT(platform_.FilesContaining("~lw"), IsEmpty());
    EXPECT_EQ(dir_.Read("vpnsetup.exe"), exe_);
    EXPECT_THAT(platform_.lines, IsEmpty());
  }

  std::string exe_;
  std::string in_;
  const std::string out_ = "C:\\out\\vpnsetup-corp.exe";
  static constexpr const char* kShortName = "C:\\out\\VPNSET~1.EXE";
};

TEST_F(StampCommandTest, WritesTheStampedCopyAndLeavesTheInputAlone) {
  const std::string templ = File("corp.ini", std::string(kValidTemplate));
  EXPECT_EQ(Run({"stamp", templ, in_, out_}), kToolSuccess);
  EXPECT_EQ(platform_.files.at(out_), StampTemplate(exe_, kValidTemplate));
  EXPECT_EQ(dir_.Read("vpnsetup.exe"), exe_);
  EXPECT_EQ(platform_.errorOutput, "");
  EXPECT_THAT(platform_.lines,
              ElementsAre(out_ + ": 64-bit vpnsetup.exe carrying " + templ + " (" +
                          std::to_string(kValidTemplate.size()) + " of 128 bytes)"));
}

TEST_F(StampCommandTest, RefusesAndWritesNothing) {
  const std::string valid = File("corp.ini", std::string(kValidTemplate));
  const std::string refused = File("bad.ini", "[config]\r\ncresecs=X\r\n");
  const std::string large = File("large.ini", std::string(kValidTemplate) + std::string(128, ';'));
  const std::string notExe = File("notes.txt", "MZ, but nothing more");
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::string report;
  } cases[] = {
      {"RefusedTemplate",
       {"stamp", refused, in_, out_},
       refused + ": [config] cresecs: lists \"X\", but there is no such section\n" + refused +
           ": template refused (1 problem)\n"},
      {"TemplateTooLarge",
       {"stamp", large, in_, out_},
       in_ + ": has room for a template of 128 bytes, not " +
           std::to_string(kValidTemplate.size() + 128) +
           "; shorten the template (comments can go) or build with a larger "
           "LINKWRIGHT_TEMPLATE_CAPACITY\n"},
      {"NotAnExecutable",
       {"stamp", valid, notExe, out_},
       notExe + ": no MZ header: not a Windows executable\n"},
      {"MissingInput", {"stamp", valid, in_ + ".gone", out_}, in_ + ".gone: no such file\n"},
      {"OutputIsTheInput",
       {"stamp", valid, in_, in_},
       in_ + ": is IN.exe itself, which stamping never changes: name a new file\n"},
      {"OutputIsTheInputSpelledOtherwise",
       {"stamp", valid, in_, kShortName},
       std::string(kShortName) +
           ": is IN.exe itself, which stamping never changes: name a new file\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform_.errorOutput.clear();
    EXPECT_EQ(Run(c.args), kToolRefused);
    EXPECT_EQ(platform_.errorOutput, c.report);
    ExpectNothingWritten();
  }
}

TEST_F(StampCommandTest, AFailedWriteLeavesNothingBehind) {
  const std::string valid = File("corp.ini", std::string(kValidTemplate));
  platform_.diskSpace = 10;
  EXPECT_EQ(Run({"stamp", valid, in_, out_}), kToolRefused);
  EXPECT_THAT(platform_.errorOutput, HasSubstr(out_ + ": "));
  ExpectNothingWritten();
}

class FromPhonebookCommandTest : public ToolTest {
 protected:
  const std::string entry_ =
      "[Office]\r\nGuid=0123456789ABCDEF0123456789ABCDEF\r\nType=2\r\nPhoneNumber=vpn.example.org"
      "\r\nIpDnsFlags=1\r\n";
};

TEST_F(FromPhonebookCommandTest, PrintsTheTemplateLineByLine) {
  const std::string path = Phonebook("rasphone.pbk", "\xEF\xBB\xBF" + entry_);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"from-phonebook", path, "Office", "--manage", "Type,IpDnsFlags"},
        std::vector<std::string>{"from-phonebook", "--manage=Type,IpDnsFlags", path, "Office"}}) {
    platform_.lines.clear();
    EXPECT_EQ(Run(args), kToolSuccess);
    EXPECT_EQ(platform_.errorOutput, "");
    FakePlatform platform;
    TMemIniFile phonebook(platform, "");
    phonebook.LoadText(entry_);
    const EntryTemplate made =
        TemplateFromEntry(platform, phonebook, "Office", {"Type", "IpDnsFlags"});
    std::string printed;
    for (const std::string& line : platform_.lines) printed += line + "\r\n";
    EXPECT_EQ(printed, made.text);
    EXPECT_THAT(platform_.lines, testing::Contains("set=Type=2|IpDnsFlags=1"));
  }
}

TEST_F(FromPhonebookCommandTest, AnEmptyListManagesNothingAndTheDefaultNeedsItsKeys) {
  const std::string path = Phonebook("rasphone.pbk", entry_);
  EXPECT_EQ(Run({"from-phonebook", path, "Office", "--manage="}), kToolSuccess);
  EXPECT_THAT(platform_.lines, testing::Contains("set="));
  platform_.lines.clear();
  EXPECT_EQ(Run({"from-phonebook", path, "Office"}), kToolRefused);
  EXPECT_THAT(platform_.lines, IsEmpty());
  EXPECT_THAT(platform_.errorOutput,
              HasSubstr(path + ": [Office] UseRasCredentials: is not in the entry, so the rule "
                               "cannot take its value from it (--manage)\n"));
  EXPECT_THAT(platform_.errorOutput, HasSubstr(path + ": no template made (7 problems)\n"));
}

// The refusals a run gives, from the run's own reading.
TEST_F(FromPhonebookCommandTest, RefusesPhonebooksItCannotRead) {
  const std::string utf16 = Phonebook("utf16.pbk", std::string("\xFF\xFE[\0O\0]\0", 8));
  const std::string nul = Phonebook("nul.pbk", entry_ + std::string(1, '\0'));
  platform_.dirs.insert("C:\\pbk\\folder.pbk");
  platform_.AddFile("C:\\pbk\\denied.pbk", entry_);
  platform_.openErrors["C:\\pbk\\denied.pbk"] = kErrorAccessDenied;
  const struct {
    std::string path;
    std::string report;
  } cases[] = {
      {utf16,
       "Cannot open file \"" + utf16 + "\". The file holds a NUL byte (UTF-16 or damaged text)"},
      {nul, "Cannot open file \"" + nul + "\". The file holds a NUL byte (UTF-16 or damaged text)"},
      {"C:\\pbk\\denied.pbk", "Cannot open file \"C:\\pbk\\denied.pbk\". System error 5"},
      {"C:\\pbk\\none.pbk", "The file does not exist"},
      {"C:\\pbk\\folder.pbk", "The file does not exist"},
  };
  for (const auto& c : cases) {
    platform_.errorOutput.clear();
    EXPECT_EQ(Run({"from-phonebook", c.path, "O"}), kToolRefused);
    EXPECT_EQ(platform_.errorOutput, c.path + ": " + c.report + "\n");
    EXPECT_THAT(platform_.lines, IsEmpty());
  }
}

class ShowCommandTest : public ToolTest {};

TEST_F(ShowCommandTest, SaysWhatTheExecutableCarries) {
  TestImageShape x64;
  x64.capacity = 200;
  x64.iniData = "[config]\ncresecs=\n";  // LF lines: --output keeps them
  x64.version = VersionInfoBytes(0x00010001u, 0x00020000u);
  TestImageShape x86 = x64;
  x86.is64Bit = false;
  x86.signature = true;
  x86.version = "no version resource";
  const struct {
    const char* name;
    TestImageShape shape;
    std::vector<std::string> head;
  } cases[] = {
      {"x64",
       x64,
       {"build: 64-bit (x64)", "version: 1.1.2.0", "signed: no", "template: 18 of 200 bytes (9%)"}},
      {"x86Signed",
       x86,
       {"build: 32-bit (x86)", "version: none",
        "signed: yes (not verified here: signtool verify /pa, or osslsigncode verify)",
        "template: 18 of 200 bytes (9%)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform_.lines.clear();
    const std::string exe = File(std::string(c.name) + ".exe", BuildTestImage(c.shape).bytes);
    platform_.dirs.insert("C:\\out");
    EXPECT_EQ(Run({"show", exe, "--output", "C:\\out\\t.ini"}), kToolSuccess);
    EXPECT_EQ(platform_.errorOutput, "");
    std::vector<std::string> expected = {"file: " + exe};
    expected.insert(expected.end(), c.head.begin(), c.head.end());
    expected.insert(expected.end(), {"", "[config]", "cresecs="});
    EXPECT_EQ(platform_.lines, expected);
    EXPECT_EQ(platform_.files.at("C:\\out\\t.ini"), c.shape.iniData);
  }
}

TEST_F(ShowCommandTest, RefusesWhatIsNoVpnsetupExe) {
  TestImageShape other;
  other.iniDataName = "OTHER";
  const std::string exe = File("vpnsetup.exe", BuildTestImage().bytes);
  platform_.identities[exe] = {3, 4};
  const struct {
    std::vector<std::string> args;
    std::string report;
  } cases[] = {
      {{"show", File("notes.txt", "MZ, but nothing more")},
       File("notes.txt", "MZ, but nothing more") + ": no MZ header: not a Windows executable\n"},
      {{"show", File("other.exe", BuildTestImage(other).bytes)},
       File("other.exe", BuildTestImage(other).bytes) +
           ": has no IniData resource: not a vpnsetup.exe built by this project\n"},
      {{"show", dir_.Native("gone.exe").string()},
       dir_.Native("gone.exe").string() + ": no such file\n"},
      {{"show", exe, "--output=" + exe},
       exe + ": is EXE itself: name another file for the template\n"},
  };
  for (const auto& c : cases) {
    platform_.errorOutput.clear();
    EXPECT_EQ(Run(c.args), kToolRefused);
    EXPECT_EQ(platform_.errorOutput, c.report);
    EXPECT_THAT(platform_.lines, IsEmpty());
  }
}

constexpr char kPlanTemplate[] =
    "[config]\r\nmansecs=srv1\r\ncresecs=auto.vpn1\r\n"
    "[srv1]\r\nid=PhoneNumber=vpn1.example.com\r\nset=IpPrioritizeRemote=0|IpDnsFlags=1\r\n"
    "[auto.vpn1]\r\nType=2\r\nGuid=0123456789ABCDEF0123456799002F38\r\n"
    "PhoneNumber=vpn1.example.com\r\nIpPrioritizeRemote=0\r\nRoutes=1\\r\\nRoutes=2\r\n";
constexpr char kAppData[] = "C:\\Users\\ann\\AppData\\Roaming";
constexpr char kUserPbk[] =
    "C:\\Users\\ann\\AppData\\Roaming\\Microsoft\\Network\\Connections\\Pbk\\rasphone.pbk";
constexpr char kPlanned[] = "C:\\out\\planned.pbk";

// What the run itself does with one phonebook: its lines after the version line, whether
// it logged an error, whether it wrote the phonebook, and the phonebook after it.
struct RunOutcome {
  std::vector<std::string> lines;
  bool errorLogged = false;
  bool written = false;
  std::optional<std::string> after;
};

RunOutcome RunOn(const std::optional<std::string>& phonebook,
                 const std::vector<std::string>& switches, SysError openError) {
  FakePlatform platform;
  platform.env["APPDATA"] = kAppData;
  platform.AddResource("IniData", 10, kPlanTemplate);
  platform.dirs.insert("C:");
  if (phonebook) platform.AddFile(kUserPbk, *phonebook);
  if (openError != 0) platform.openErrors[kUserPbk] = openError;
  RunFlags flags;
  for (const std::string& argument : switches) ApplyPlainSwitch(argument, flags);
  Log log(platform);
  RunProvisioning(platform, flags, log);
  RunOutcome outcome;
  outcome.lines.assign(platform.lines.begin() + 1, platform.lines.end());
  outcome.errorLogged = log.ErrorLogged();
  const std::vector<std::string> calls = platform.FileCalls();
  outcome.written =
      std::find(calls.begin(), calls.end(), "ReplaceWith " + std::string(kUserPbk)) != calls.end();
  if (platform.files.count(kUserPbk) != 0) outcome.after = platform.files.at(kUserPbk);
  return outcome;
}

class PlanCommandTest : public ToolTest {
 protected:
  void SetUp() override { platform_.dirs.insert("C:\\out"); }
};

// plan's lines, --output and status are the run's own lines, phonebook and outcome, for
// phonebooks of every kind and each plain switch.
TEST_F(PlanCommandTest, ShowsWhatTheRunDoesLineForLineAndByteForByte) {
  const std::string templ = File("t.ini", kPlanTemplate);
  const std::string upToDate =
      "[auto.vpn1]\r\nType=2\r\nGuid=0123456789ABCDEF0123456799002F39\r\n"
      "PhoneNumber=vpn1.example.com\r\nIpPrioritizeRemote=0\r\nRoutes=1\r\nRoutes=2\r\n"
      "IpDnsFlags=1\r\n\r\n";
  const struct {
    const char* name;
    std::optional<std::string> phonebook;
    SysError openError = 0;
  } phonebooks[] = {
      {"Absent", std::nullopt},
      {"Empty", ""},
      {"UpToDate", upToDate},
      {"UpToDateButLf",
       "[auto.vpn1]\nType=2\nGuid=0123456789ABCDEF0123456799002F39\n"
       "PhoneNumber=vpn1.example.com\nIpPrioritizeRemote=0\nRoutes=1\n"
       "Routes=2\nIpDnsFlags=1\n"},
      {"ManagedEntry", "[Office]\nPhoneNumber=vpn1.example.com\nIpDnsFlags=0\n[Other]\nx=1\n"},
      {"MarkCommentsAndBlanks", "\xEF\xBB\xBF; kept out\r\n[a]\r\n k = v \r\n\r\n;c\r\n[b]\r\n"},
      {"EntryThereInOtherCase", "[AUTO.VPN1]\r\nType=2\r\n"},
      {"EntrySectionWithoutLines", "[auto.vpn1]\r\n[next]\r\na=1\r\n"},
      {"NulByte", std::string("[a]\r\nx=\0\r\n", 10)},
      {"Utf16", std::string("\xFF\xFE[\0a\0]\0", 8)},
      {"Unreadable", "[a]\r\n", kErrorAccessDenied},
  };
  const std::vector<std::vector<std::string>> switchSets = {{}, {"/u"}, {"/g"}, {"/l", "/u"}};
  for (const auto& c : phonebooks) {
    for (const std::vector<std::string>& switches : switchSets) {
      SCOPED_TRACE(std::string(c.name) + " " + testing::PrintToString(switches));
      const RunOutcome run = RunOn(c.phonebook, switches, c.openError);

      FakePlatform platform;
      platform.dirs.insert("C:\\out");
      if (c.phonebook) platform.AddFile(kUserPbk, *c.phonebook);
      if (c.openError != 0) platform.openErrors[kUserPbk] = c.openError;
      std::vector<std::string> args = {"plan", templ, kUserPbk, "--output", kPlanned};
      args.insert(args.end(), switches.begin(), switches.end());
      const int status = RunTemplateTool(platform, args);

      ASSERT_GE(platform.lines.size(), run.lines.size());
      EXPECT_EQ(std::vector<std::string>(platform.lines.begin(),
                                         platform.lines.begin() + run.lines.size()),
                run.lines);
      EXPECT_EQ(status, run.errorLogged ? kToolRefused : run.written ? kToolChanges : kToolSuccess);
      const std::optional<std::string> planned = platform.files.count(kPlanned) != 0
                                                     ? std::optional(platform.files.at(kPlanned))
                                                     : std::nullopt;
      // A phonebook the run cannot read stops it: nothing is written.
      const bool stopped = run.errorLogged && !run.written;
      EXPECT_EQ(planned, stopped ? std::nullopt : run.after);
      if (c.phonebook) {
        EXPECT_EQ(platform.files.at(kUserPbk), *c.phonebook);
      }
      EXPECT_EQ(platform.HeldLocks(), 0u);
      EXPECT_THAT(platform.FileCalls(), testing::Not(testing::Contains(HasSubstr("LockFile"))));
      const std::vector<std::string> after(platform.lines.begin() + run.lines.size(),
                                           platform.lines.end());
      if (stopped) {
        EXPECT_THAT(after, IsEmpty());
      } else if (!run.written) {
        EXPECT_THAT(after, ElementsAre(run.after ? "unchanged"
                                                 : "unchanged: no phonebook, and the run "
                                                   "creates none"));
      } else {
        ASSERT_GE(after.size(), 2u);
        EXPECT_EQ(after[0], std::string("--- ") + kUserPbk + (c.phonebook ? "" : " (not there)"));
        EXPECT_EQ(after[1], std::string("+++ ") + kUserPbk + " (after the run)");
      }
    }
  }
}

TEST_F(PlanCommandTest, ShowsTheDiffWithEachLineEnd) {
  const std::string templ = File("t.ini", kPlanTemplate);
  const std::string path = Phonebook("rasphone.pbk",
                                     "[Office]\r\nPhoneNumber=vpn1.example.com\r\n"
                                     "IpDnsFlags=0\r\nIpPrioritizeRemote=0\r\n\r\n[auto.vpn1]\r\n");
  EXPECT_EQ(Run({"plan", templ, path, "/u"}), kToolChanges);
  EXPECT_EQ(platform_.errorOutput, "");
  EXPECT_THAT(
      platform_.lines,
      ElementsAre(
          "* processing *.pbk", "* processing pbk " + path,
          "* on [Office] setting IpPrioritizeRemote=0", "* on [Office] setting IpDnsFlags=1",
          "--- " + path, "+++ " + path + " (after the run)", "@@ -1,6 +1,7 @@", " [Office]<CR><LF>",
          " PhoneNumber=vpn1.example.com<CR><LF>", "-IpDnsFlags=0<CR><LF>", "+IpDnsFlags=1<CR><LF>",
          " IpPrioritizeRemote=0<CR><LF>", " <CR><LF>", " [auto.vpn1]<CR><LF>", "+<CR><LF>"));
}

// An executable plans with its own template and the modes its name chooses; each
// phonebook is planned on its own, and the worst outcome is the status.
TEST_F(PlanCommandTest, TakesTheExecutablesTemplateAndNameAndPlansEachPhonebook) {
  TestImageShape shape;
  shape.iniData = kPlanTemplate;
  shape.capacity = 1024;
  const std::string exe = File("vpnsetup-updt-remgw.exe", BuildTestImage(shape).bytes);
  const std::string managed = Phonebook("a.pbk", "[O]\r\nPhoneNumber=vpn1.example.com\r\n");
  const std::string absent = "C:\\pbk\\none.pbk";
  EXPECT_EQ(Run({"plan", exe, managed, absent}), kToolChanges);
  EXPECT_EQ(std::vector<std::string>(platform_.lines.begin(), platform_.lines.begin() + 5),
            (std::vector<std::string>{"* update only mode !", "* remote gateway mode",
                                      "* processing *.pbk", "* processing pbk " + managed,
                                      "* on [O] setting IpPrioritizeRemote=1"}));
  EXPECT_EQ(std::vector<std::string>(platform_.lines.end() - 3, platform_.lines.end()),
            (std::vector<std::string>{"", "* processing *.pbk",
                                      "unchanged: no phonebook, and the run creates none"}));

  const std::string nul = Phonebook("nul.pbk", std::string("[a]\0", 4));
  platform_.lines.clear();
  EXPECT_EQ(Run({"plan", exe, managed, nul}), kToolRefused);
  EXPECT_EQ(platform_.lines.back(), "* exception: Cannot open file \"" + nul +
                                        "\". The file holds a NUL byte (UTF-16 or damaged text)");

  TestImageShape admin = shape;
  const std::string adminExe = File("vpnsetup-admin.exe", BuildTestImage(admin).bytes);
  platform_.lines.clear();
  EXPECT_EQ(Run({"plan", adminExe, managed}), kToolRefused);
  EXPECT_THAT(platform_.errorOutput, HasSubstr("its name asks for all-users mode"));
  EXPECT_THAT(platform_.lines, IsEmpty());
}

TEST_F(PlanCommandTest, RefusesTemplatesCheckRefusesAndOutputOverAnInput) {
  const std::string refused = File("bad.ini", "[config]\r\ncresecs=X\r\n");
  const std::string valid = File("t.ini", kPlanTemplate);
  const std::string path = Phonebook("rasphone.pbk", "[a]\r\n");
  platform_.identities[valid] = {1, 2};
  const struct {
    std::vector<std::string> args;
    std::string report;
  } cases[] = {
      {{"plan", refused, path},
       refused + ": [config] cresecs: lists \"X\", but there is no such section\n" + refused +
           ": template refused (1 problem)\n"},
      {{"plan", valid, path, "--output", path},
       path + ": is " + path + " itself: name a new file for the text\n"},
      {{"plan", valid, path, "--output", valid},
       valid + ": is " + valid + " itself: name a new file for the text\n"},
  };
  for (const auto& c : cases) {
    platform_.errorOutput.clear();
    EXPECT_EQ(Run(c.args), kToolRefused);
    EXPECT_EQ(platform_.errorOutput, c.report);
    EXPECT_THAT(platform_.lines, IsEmpty());
    EXPECT_EQ(platform_.files.at(path), "[a]\r\n");
  }
}

// The diff's hunks rebuild `after` from `before`, and with no more lines than the
// shortest edit, on random texts of few distinct lines.
TEST(DiffHunksTest, RebuildTheTextWithTheShortestEdit) {
  std::mt19937 random(190611);
  const char* pieces[] = {"a\r\n", "b\r\n", "a\n", "c", "\r", "b\r\n"};
  const auto text = [&](std::size_t lines) {
    std::string made;
    for (std::size_t i = 0; i < lines; ++i) made += pieces[random() % 6];
    return made;
  };
  for (int round = 0; round < 400; ++round) {
    const std::string before = text(random() % 14);
    const std::string after = round % 5 == 0 ? before : text(random() % 14);
    const std::vector<std::string> a = ShownLines(before);
    const std::vector<std::string> b = ShownLines(after);
    std::vector<std::string> rebuilt;
    std::size_t next = 0;  // lines of `a` used so far
    std::size_t edits = 0;
    for (const std::string& line : DiffHunks(before, after)) {
      if (line.rfind("@@ -", 0) == 0) {
        const std::size_t start = std::stoul(line.substr(4));
        const std::size_t count = std::stoul(line.substr(line.find(',') + 1));
        const std::size_t from = count == 0 ? start : start - 1;
        ASSERT_LE(next, from) << line;
        rebuilt.insert(rebuilt.end(), a.begin() + next, a.begin() + from);
        next = from;
      } else if (line[0] == ' ' || line[0] == '-') {
        ASSERT_LT(next, a.size());
        ASSERT_EQ(line.substr(1), a[next++]);
        if (line[0] == ' ') rebuilt.push_back(line.substr(1));
        edits += line[0] == '-';
      } else {
        ASSERT_EQ(line[0], '+');
        rebuilt.push_back(line.substr(1));
        ++edits;
      }
    }
    rebuilt.insert(rebuilt.end(), a.begin() + next, a.end());
    ASSERT_EQ(rebuilt, b) << testing::PrintToString(before) << testing::PrintToString(after);
    // The longest common subsequence the long way: the shortest edit keeps that many.
    std::vector<std::vector<std::size_t>> common(a.size() + 1,
                                                 std::vector<std::size_t>(b.size() + 1, 0));
    for (std::size_t i = a.size(); i-- > 0;) {
      for (std::size_t j = b.size(); j-- > 0;) {
        common[i][j] =
            a[i] == b[j] ? common[i + 1][j + 1] + 1 : std::max(common[i + 1][j], common[i][j + 1]);
      }
    }
    EXPECT_EQ(edits, a.size() + b.size() - 2 * common[0][0]);
  }
}

TEST(DiffHunksTest, ShowsLineEndsAndSplitsDistantChanges) {
  EXPECT_EQ(ShownLines("a\r\nb\nc\rd"),
            (std::vector<std::string>{"a<CR><LF>", "b<LF>", "c<CR>", "d"}));
  EXPECT_THAT(DiffHunks("same\r\n", "same\r\n"), IsEmpty());
  EXPECT_EQ(DiffHunks("", "x\r\n"), (std::vector<std::string>{"@@ -0,0 +1,1 @@", "+x<CR><LF>"}));
  EXPECT_EQ(DiffHunks("x\n", ""), (std::vector<std::string>{"@@ -1,1 +0,0 @@", "-x<LF>"}));
  std::string before;
  for (char c = 'a'; c <= 'p'; ++c) before += std::string(1, c) + "\n";
  std::string after = before;
  after[0] = 'A';
  after[30] = 'P';
  EXPECT_EQ(DiffHunks(before, after),
            (std::vector<std::string>{"@@ -1,4 +1,4 @@", "-a<LF>", "+A<LF>", " b<LF>", " c<LF>",
                                      " d<LF>", "@@ -13,4 +13,4 @@", " m<LF>", " n<LF>", " o<LF>",
                                      "-p<LF>", "+P<LF>"}));
  // Past the edit limit the differing middle is replaced whole: every line of it removed,
  // then every line added.
  const int lines = 2 * kMaxDiffEdits;
  std::string many = "head\n";
  std::string changed = many;
  for (int i = 0; i < lines; ++i) {
    many += std::to_string(i) + "\n";
    changed += std::to_string(i) + (i % 2 == 0 ? "\r\n" : "\n");
  }
  const std::vector<std::string> hunks = DiffHunks(many, changed);
  const std::string count = std::to_string(lines + 1);
  ASSERT_EQ(hunks.size(), static_cast<std::size_t>(2 * lines + 1));
  EXPECT_EQ(hunks[0], "@@ -1," + count + " +1," + count + " @@");
  EXPECT_EQ(hunks[1], " head<LF>");
  EXPECT_EQ(hunks[2], "-0<LF>");
  EXPECT_EQ(hunks[lines + 1], "+0<CR><LF>");
  EXPECT_EQ(hunks.back(), " " + std::to_string(lines - 1) + "<LF>");
}

}  // namespace
}  // namespace lw
