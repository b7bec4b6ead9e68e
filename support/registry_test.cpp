#include "support/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fake_platform.h"

namespace lw {
namespace {

using Calls = std::vector<std::string>;

class RegistryTest : public ::testing::Test {
 protected:
  // A fresh handle to an existing key below HKEY_CURRENT_USER.
  RegKey OpenHandle(const std::string& subKey) {
    platform.regKeys.insert("HKEY_CURRENT_USER\\" + subKey);
    RegKey key = kNoKey;
    EXPECT_EQ(platform.OpenKey(kHkeyCurrentUser, subKey, kKeyAllAccess, key), 0u);
    platform.calls.clear();
    return key;
  }

  FakePlatform platform;
};

TEST_F(RegistryTest, SelectingTheSameRootKeepsTheKeyOpen) {
  TRegistry reg(platform);
  const RegKey key = OpenHandle("A");
  reg.AdoptKey(key, "A");
  reg.SelectRootKey(kHkeyCurrentUser);
  EXPECT_EQ(reg.CurrentKey(), key);
  EXPECT_EQ(reg.CurrentPath(), "A");
  EXPECT_TRUE(platform.calls.empty());
}

TEST_F(RegistryTest, SelectingAnotherRootClosesTheKey) {
  TRegistry reg(platform);
  reg.AdoptKey(OpenHandle("A"), "A");
  reg.SelectRootKey(kHkeyLocalMachine);
  EXPECT_EQ(reg.RootKey(), kHkeyLocalMachine);
  EXPECT_EQ(reg.CurrentKey(), kNoKey);
  EXPECT_EQ(reg.CurrentPath(), "");
  EXPECT_EQ(platform.OpenKeyCount(), 0u);
}

TEST_F(RegistryTest, StoreValueWritesTheRegistryTypeOfEachKind) {
  struct Case {
    TValueKind kind;
    std::uint32_t type;
  };
  TRegistry reg(platform);
  reg.AdoptKey(OpenHandle("A"), "A");
  for (const Case& c :
       {Case{TValueKind::Untyped, kRegNone}, Case{TValueKind::String, kRegSz},
        Case{TValueKind::ExpandString, kRegExpandSz}, Case{TValueKind::Integer, kRegDword},
        Case{TValueKind::Binary, kRegBinary}, Case{static_cast<TValueKind>(5), kRegNone},
        Case{static_cast<TValueKind>(-1), kRegNone}}) {
    reg.StoreValue("V", std::string_view("x\0y", 3), c.kind);
    const auto value = platform.RegistryValue("HKEY_CURRENT_USER\\A", "V");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, c.type) << static_cast<int>(c.kind);
    EXPECT_EQ(value->data, std::string("x\0y", 3));
  }
}

TEST_F(RegistryTest, StoreIntegerWritesFourLittleEndianBytes) {
  struct Case {
    std::int32_t value;
    std::string bytes;
  };
  TRegistry reg(platform);
  reg.AdoptKey(OpenHandle("A"), "A");
  for (const Case& c : {Case{1, std::string("\x01\0\0\0", 4)}, Case{0, std::string(4, '\0')},
                        Case{0x01020304, "\x04\x03\x02\x01"}, Case{-2, "\xFE\xFF\xFF\xFF"}}) {
    reg.StoreInteger("N", c.value);
    const auto value = platform.RegistryValue("HKEY_CURRENT_USER\\A", "N");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, kRegDword);
    EXPECT_EQ(value->data, c.bytes) << c.value;
  }
}

ERegistryException FailedStore(TRegistry& reg) {
  try {
    reg.StoreInteger("NoCertRevocationCheck", 1);
  } catch (const ERegistryException& error) {
    return error;
  }
  ADD_FAILURE() << "no ERegistryException";
  return ERegistryException("");
}

TEST_F(RegistryTest, FailedWriteRaisesWithNameAndRaiseAddress) {
  platform.setValueStatus = kErrorAccessDenied;
  TRegistry reg(platform);
  reg.AdoptKey(OpenHandle("A"), "A");
  const ERegistryException first = FailedStore(reg);
  EXPECT_EQ(first.Message(), "Failed to set data for 'NoCertRevocationCheck'");
  EXPECT_STREQ(first.ClassName(), "ERegistryException");
  EXPECT_STREQ(static_cast<const Exception&>(first).ClassName(), "ERegistryException");
  // The same raise site each time, and not the place that built an error by hand.
  EXPECT_NE(first.RaiseAddress(), 0u);
  EXPECT_EQ(FailedStore(reg).RaiseAddress(), first.RaiseAddress());
  EXPECT_NE(ERegistryException("x").RaiseAddress(), first.RaiseAddress());
}

TEST_F(RegistryTest, WriteWithoutOpenKeyRaises) {
  TRegistry reg(platform);
  EXPECT_THROW(reg.StoreInteger("N", 1), ERegistryException);
}

TEST_F(RegistryTest, ConnectingMakesAnOwnedRootReleasedLater) {
  platform.connectStatus = 0;
  {
    TRegistry reg(platform);
    reg.SelectRootKey(kHkeyLocalMachine);
    ASSERT_TRUE(reg.ConnectToMachine("server"));
    EXPECT_EQ(platform.calls, Calls{"ConnectRegistry server"});
    EXPECT_TRUE(reg.OwnsRoot());
    EXPECT_NE(reg.RootKey(), kHkeyLocalMachine);
    EXPECT_EQ(platform.OpenKeyCount(), 1u);
  }
  EXPECT_EQ(platform.OpenKeyCount(), 0u);  // released at destruction

  TRegistry reg(platform);
  ASSERT_TRUE(reg.ConnectToMachine("server"));
  reg.SelectRootKey(kHkeyLocalMachine);
  EXPECT_FALSE(reg.OwnsRoot());
  EXPECT_EQ(platform.OpenKeyCount(), 0u);  // released when replaced
}

TEST_F(RegistryTest, FailedConnectionChangesNothing) {
  TRegistry reg(platform);
  const RegKey key = OpenHandle("A");
  reg.AdoptKey(key, "A");
  EXPECT_FALSE(reg.ConnectToMachine("server"));
  EXPECT_EQ(reg.RootKey(), kHkeyCurrentUser);
  EXPECT_FALSE(reg.OwnsRoot());
  EXPECT_EQ(reg.CurrentKey(), key);
  EXPECT_EQ(reg.CurrentPath(), "A");
}

}  // namespace
}  // namespace lw
