#include "support/regutils.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/fake_platform.h"

namespace lw {
namespace {

using Calls = std::vector<std::string>;

const std::string kFull = " " + std::to_string(kKeyAllAccess);
const std::string kRead = " " + std::to_string(kKeyRead);
constexpr std::string_view kSstpPath = "System\\CurrentControlSet\\Services\\Sstpsvc\\Parameters";
const std::string kSstpKey =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CURRENTCONTROLSET\\SERVICES\\SSTPSVC\\PARAMETERS";
constexpr std::string_view kValueName = "NoCertRevocationCheck";

TEST(IsRelativePathTest, OnlyALeadingBackslashMakesAPathAbsolute) {
  EXPECT_TRUE(IsRelativePath(""));
  EXPECT_TRUE(IsRelativePath("Software"));
  EXPECT_TRUE(IsRelativePath("Software\\X"));
  EXPECT_TRUE(IsRelativePath("/Software"));
  EXPECT_FALSE(IsRelativePath("\\"));
  EXPECT_FALSE(IsRelativePath("\\Software"));
}

class OpenPath64Test : public ::testing::Test {
 protected:
  void SetUp() override {
    platform.regKeys = {"HKEY_CURRENT_USER\\SOFTWARE", "HKEY_CURRENT_USER\\SOFTWARE\\LINKWRIGHT",
                        "HKEY_CURRENT_USER\\OTHER"};
  }
  // Opens "Software" and forgets the calls so far.
  void OpenSoftware() {
    ASSERT_TRUE(reg.OpenPath64("Software", false));
    platform.calls.clear();
  }

  FakePlatform platform;
  TReg64 reg{platform};
};

TEST_F(OpenPath64Test, RelativePathWithoutOpenKeyResolvesAgainstRoot) {
  ASSERT_TRUE(reg.OpenPath64("Software", false));
  EXPECT_EQ(platform.calls, Calls{"OpenKey HKEY_CURRENT_USER\\SOFTWARE" + kFull});
  EXPECT_EQ(reg.CurrentPath(), "Software");
  EXPECT_NE(reg.CurrentKey(), kNoKey);
}

TEST_F(OpenPath64Test, RelativePathResolvesAgainstOpenKeyAndExtendsPath) {
  OpenSoftware();
  ASSERT_TRUE(reg.OpenPath64("Linkwright", false));
  EXPECT_EQ(platform.calls,
            (Calls{"OpenKey HKEY_CURRENT_USER\\SOFTWARE\\LINKWRIGHT" + kFull, "CloseKey"}));
  EXPECT_EQ(reg.CurrentPath(), "Software\\Linkwright");
  EXPECT_EQ(platform.OpenKeyCount(), 1u);
}

TEST_F(OpenPath64Test, AbsolutePathResolvesAgainstRootWhileKeyIsOpen) {
  OpenSoftware();
  ASSERT_TRUE(reg.OpenPath64("\\Other", false));
  EXPECT_EQ(platform.calls, (Calls{"OpenKey HKEY_CURRENT_USER\\OTHER" + kFull, "CloseKey"}));
  EXPECT_EQ(reg.CurrentPath(), "Other");
  EXPECT_EQ(platform.OpenKeyCount(), 1u);
}

TEST_F(OpenPath64Test, FailedOpenKeepsTheOpenKey) {
  OpenSoftware();
  const RegKey first = reg.CurrentKey();
  EXPECT_FALSE(reg.OpenPath64("Missing", false));
  EXPECT_FALSE(reg.OpenPath64("\\Missing", false));
  platform.createKeyStatus = kErrorAccessDenied;
  EXPECT_FALSE(reg.OpenPath64("Missing", true));
  EXPECT_EQ(platform.calls.size(), 3u);
  EXPECT_EQ(reg.CurrentKey(), first);
  EXPECT_EQ(reg.CurrentPath(), "Software");
  EXPECT_EQ(platform.OpenKeyCount(), 1u);
  for (const std::string& call : platform.calls) EXPECT_NE(call, "CloseKey");
}

TEST_F(OpenPath64Test, CanCreateCreatesTheKeyWithCurrentAccess) {
  reg.SetAccess(kKeyRead);
  ASSERT_TRUE(reg.OpenPath64("\\New\\Deep", true));
  EXPECT_EQ(platform.calls, Calls{"CreateKey HKEY_CURRENT_USER\\NEW\\DEEP" + kRead});
  EXPECT_EQ(platform.regKeys.count("HKEY_CURRENT_USER\\NEW\\DEEP"), 1u);
  EXPECT_EQ(reg.CurrentPath(), "New\\Deep");
}

TEST_F(OpenPath64Test, EmptyPathOrLoneBackslashOpensTheBaseInsteadOfCreating) {
  for (const std::string_view path : {std::string_view(""), std::string_view("\\")}) {
    TReg64 fresh(platform);
    platform.calls.clear();
    ASSERT_TRUE(fresh.OpenPath64(path, true)) << path;
    EXPECT_EQ(platform.calls, Calls{"OpenKey HKEY_CURRENT_USER" + kFull}) << path;
    EXPECT_NE(fresh.CurrentKey(), kNoKey);
    EXPECT_EQ(fresh.CurrentPath(), "");
  }
  EXPECT_EQ(platform.OpenKeyCount(), 0u);
}

class RegUtilsTest : public ::testing::Test {
 protected:
  FakePlatform platform;
};

TEST_F(RegUtilsTest, NewObjectOnLocalMachineMakesNoConnection) {
  const auto reg = RegNewObject(platform, kHkeyLocalMachine, ".");
  ASSERT_NE(reg, nullptr);
  EXPECT_EQ(reg->RootKey(), kHkeyLocalMachine);
  EXPECT_EQ(reg->Access(), kKeyAllAccess);
  EXPECT_FALSE(reg->OwnsRoot());
  EXPECT_TRUE(platform.calls.empty());
}

TEST_F(RegUtilsTest, NewObjectTriesEveryOtherNameAndGivesNoneOnFailure) {
  for (const std::string_view name : {std::string_view(""), std::string_view("server")}) {
    platform.calls.clear();
    EXPECT_EQ(RegNewObject(platform, kHkeyLocalMachine, name), nullptr) << name;
    EXPECT_EQ(platform.calls, Calls{"ConnectRegistry " + std::string(name)});
  }
  platform.connectStatus = 0;
  const auto reg = RegNewObject(platform, kHkeyLocalMachine, "server");
  ASSERT_NE(reg, nullptr);
  EXPECT_TRUE(reg->OwnsRoot());
}

TEST_F(RegUtilsTest, FallbackWithoutCreateMakesOneFullAccessAttempt) {
  platform.regKeys.insert("HKEY_LOCAL_MACHINE\\RO");
  platform.regReadOnlyKeys.insert("HKEY_LOCAL_MACHINE\\RO");
  auto reg = RegNewObject(platform, kHkeyLocalMachine, ".");
  EXPECT_FALSE(RegOpenWithFallback(reg.get(), "RO", false));
  EXPECT_EQ(platform.calls, Calls{"OpenKey HKEY_LOCAL_MACHINE\\RO" + kFull});
  EXPECT_EQ(reg->Access(), kKeyAllAccess);
  EXPECT_EQ(reg->CurrentKey(), kNoKey);
}

TEST_F(RegUtilsTest, FallbackWithCreateOpensReadOnly) {
  platform.regKeys.insert("HKEY_LOCAL_MACHINE\\RO");
  platform.regReadOnlyKeys.insert("HKEY_LOCAL_MACHINE\\RO");
  auto reg = RegNewObject(platform, kHkeyLocalMachine, ".");
  ASSERT_TRUE(RegOpenWithFallback(reg.get(), "RO", true));
  EXPECT_EQ(platform.calls, (Calls{"CreateKey HKEY_LOCAL_MACHINE\\RO" + kFull,
                                   "OpenKey HKEY_LOCAL_MACHINE\\RO" + kRead}));
  EXPECT_EQ(reg->Access(), kKeyRead);
  EXPECT_EQ(reg->CurrentPath(), "RO");

  // After the fallback the open key is there, but nothing is written to it.
  platform.calls.clear();
  EXPECT_FALSE(RegWriteObjectInteger(reg.get(), "N", 1));
  EXPECT_FALSE(RegWriteObjectInteger(nullptr, "N", 1));
  EXPECT_TRUE(platform.calls.empty());
  EXPECT_FALSE(platform.RegistryValue("HKEY_LOCAL_MACHINE\\RO", "N").has_value());

  // The next open asks for full access again.
  platform.regKeys.insert("HKEY_LOCAL_MACHINE\\RW");
  ASSERT_TRUE(RegOpenWithFallback(reg.get(), "\\RW", false));
  EXPECT_EQ(reg->Access(), kKeyAllAccess);
  EXPECT_TRUE(RegWriteObjectInteger(reg.get(), "N", 1));
  EXPECT_TRUE(platform.RegistryValue("HKEY_LOCAL_MACHINE\\RW", "N").has_value());
}

TEST_F(RegUtilsTest, FallbackFailsWhenNeitherAccessWorks) {
  platform.createKeyStatus = kErrorAccessDenied;
  auto reg = RegNewObject(platform, kHkeyLocalMachine, ".");
  EXPECT_FALSE(RegOpenWithFallback(reg.get(), "Missing", true));
  EXPECT_EQ(platform.calls.size(), 2u);
  EXPECT_FALSE(RegOpenWithFallback(nullptr, "Missing", true));
  EXPECT_EQ(platform.calls.size(), 2u);
}

TEST_F(RegUtilsTest, OpenObjectGivesNoneAndLeaksNothingOnFailure) {
  EXPECT_EQ(RegOpenObject(platform, kHkeyLocalMachine, "Missing", ".", false), nullptr);
  EXPECT_EQ(RegOpenObject(platform, kHkeyLocalMachine, "Missing", "server", true), nullptr);
  EXPECT_EQ(platform.OpenKeyCount(), 0u);

  platform.connectStatus = 0;
  platform.regKeys.insert("HKEY_LOCAL_MACHINE\\THERE");
  EXPECT_EQ(RegOpenObject(platform, kHkeyLocalMachine, "Missing", "server", false), nullptr);
  EXPECT_EQ(platform.OpenKeyCount(), 0u);  // the connected root too
  auto reg = RegOpenObject(platform, kHkeyLocalMachine, "There", "server", false);
  ASSERT_NE(reg, nullptr);
  EXPECT_EQ(reg->CurrentPath(), "There");
  RegFreeObject(reg);
  EXPECT_EQ(reg, nullptr);
  EXPECT_EQ(platform.OpenKeyCount(), 0u);
}

TEST_F(RegUtilsTest, CloseObjectClosesTheKeyAndFreesUnlessKept) {
  platform.regKeys.insert("HKEY_LOCAL_MACHINE\\K");
  auto reg = RegOpenObject(platform, kHkeyLocalMachine, "K", ".", false);
  ASSERT_NE(reg, nullptr);
  RegCloseObject(reg, true);
  ASSERT_NE(reg, nullptr);
  EXPECT_EQ(reg->CurrentKey(), kNoKey);
  EXPECT_EQ(platform.OpenKeyCount(), 0u);
  RegCloseObject(reg, false);
  EXPECT_EQ(reg, nullptr);
  RegCloseObject(reg, false);  // none stays none
  EXPECT_EQ(reg, nullptr);
}

TEST_F(RegUtilsTest, WriteMachineIntegerCreatesEveryMissingLevel) {
  RegWriteMachineInteger(platform, kSstpPath, kValueName, 1);
  EXPECT_EQ(platform.calls,
            (Calls{"CreateKey " + kSstpKey + kFull, "SetValue NoCertRevocationCheck", "CloseKey"}));
  for (const char* level :
       {"SYSTEM", "SYSTEM\\CURRENTCONTROLSET", "SYSTEM\\CURRENTCONTROLSET\\SERVICES",
        "SYSTEM\\CURRENTCONTROLSET\\SERVICES\\SSTPSVC",
        "SYSTEM\\CURRENTCONTROLSET\\SERVICES\\SSTPSVC\\PARAMETERS"}) {
    EXPECT_EQ(platform.regKeys.count("HKEY_LOCAL_MACHINE\\" + std::string(level)), 1u) << level;
  }
  const auto value = platform.RegistryValue(kSstpKey, std::string(kValueName));
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->type, kRegDword);
  EXPECT_EQ(value->data, std::string("\x01\x00\x00\x00", 4));
  EXPECT_EQ(platform.OpenKeyCount(), 0u);
}

TEST_F(RegUtilsTest, WriteMachineIntegerReplacesAnExistingValue) {
  platform.regKeys.insert(kSstpKey);
  platform.regValues[kSstpKey][std::string(kValueName)] = {kRegSz, "old"};
  RegWriteMachineInteger(platform, kSstpPath, kValueName, 0);
  const auto value = platform.RegistryValue(kSstpKey, std::string(kValueName));
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->type, kRegDword);
  EXPECT_EQ(value->data, std::string(4, '\0'));
}

// Every way the value stays unwritten raises the error of a failed write, after every key
// is closed.
struct UnwrittenCase {
  const char* label;
  std::function<void(FakePlatform&)> setUp;
  Calls calls;
};

std::ostream& operator<<(std::ostream& out, const UnwrittenCase& c) {
  return out << c.label;
}

class WriteMachineIntegerUnwrittenTest : public ::testing::TestWithParam<UnwrittenCase> {};

TEST_P(WriteMachineIntegerUnwrittenTest, RaisesTheFailedWriteAndLeavesNoHandle) {
  FakePlatform platform;
  GetParam().setUp(platform);
  try {
    RegWriteMachineInteger(platform, kSstpPath, kValueName, 1);
    ADD_FAILURE() << "no ERegistryException";
  } catch (const ERegistryException& error) {
    EXPECT_EQ(error.Message(), "Failed to set data for 'NoCertRevocationCheck'");
    EXPECT_STREQ(error.ClassName(), "ERegistryException");
    EXPECT_NE(error.RaiseAddress(), 0u);
  }
  EXPECT_EQ(platform.calls, GetParam().calls);
  EXPECT_FALSE(platform.RegistryValue(kSstpKey, std::string(kValueName)).has_value());
  EXPECT_EQ(platform.OpenKeyCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteMachineIntegerUnwrittenTest,
    ::testing::Values(
        UnwrittenCase{
            "write_refused",
            [](FakePlatform& p) { p.setValueStatus = kErrorAccessDenied; },
            {"CreateKey " + kSstpKey + kFull, "SetValue NoCertRevocationCheck", "CloseKey"}},
        UnwrittenCase{"read_only_key",
                      [](FakePlatform& p) {
                        p.regKeys.insert(kSstpKey);
                        p.regReadOnlyKeys.insert(kSstpKey);
                      },
                      {"CreateKey " + kSstpKey + kFull, "OpenKey " + kSstpKey + kRead, "CloseKey"}},
        UnwrittenCase{"create_refused_key_missing",
                      [](FakePlatform& p) { p.createKeyStatus = kErrorAccessDenied; },
                      {"CreateKey " + kSstpKey + kFull, "OpenKey " + kSstpKey + kRead}},
        UnwrittenCase{"create_and_open_refused",
                      [](FakePlatform& p) {
                        p.regKeys.insert(kSstpKey);
                        p.createKeyStatus = kErrorAccessDenied;
                        p.openKeyStatus = kErrorAccessDenied;
                      },
                      {"CreateKey " + kSstpKey + kFull, "OpenKey " + kSstpKey + kRead}},
        UnwrittenCase{"registry_unreachable",
                      [](FakePlatform& p) {
                        p.createKeyStatus = kErrorPathNotFound;
                        p.openKeyStatus = kErrorPathNotFound;
                      },
                      {"CreateKey " + kSstpKey + kFull, "OpenKey " + kSstpKey + kRead}}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace lw
