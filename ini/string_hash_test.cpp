#include "ini/string_hash.h"

#include <gtest/gtest.h>

#include <string>

#include "ini/hashed_string_list.h"
#include "tests/fake_platform.h"

namespace lw {
namespace {

using namespace std::string_literals;

TEST(StringHashTest, HashKeyRotatesLeftByTwoAndXorsUnsignedBytes) {
  const TStringHash hash;
  EXPECT_EQ(hash.HashKey(""), 0u);
  EXPECT_EQ(hash.HashKey("A"), 0x41u);
  EXPECT_EQ(hash.HashKey("AB"), 0x146u);
  EXPECT_EQ(hash.HashKey("\xff"), 0xffu);
  // Fifteen more rotations carry 0xC0's top bits round to bits 4 and 5.
  EXPECT_EQ(hash.HashKey("\xc0"s + std::string(15, '\0')), 0x30u);
}

TEST(StringHashTest, NewestItemOfAKeyWinsAndClearEmpties) {
  TStringHash hash;
  hash.Add("KEY", 1);
  hash.Add("A", 2);
  hash.Add("\x10\x01", 4);  // same bucket as "A": both hash to 0x41
  hash.Add("KEY", 3);
  EXPECT_EQ(hash.HashKey("\x10\x01"), hash.HashKey("A"));
  EXPECT_EQ(hash.ValueOf("KEY"), 3);
  EXPECT_EQ(hash.ValueOf("A"), 2);
  EXPECT_EQ(hash.ValueOf("\x10\x01"), 4);
  EXPECT_EQ(hash.ValueOf("KE"), -1);
  EXPECT_EQ(hash.ValueOf("key"), -1);
  hash.Clear();
  EXPECT_EQ(hash.ValueOf("KEY"), -1);
}

// Upper-cases Latin-1 letters too, as an ANSI code page does.
class Latin1Platform : public FakePlatform {
 public:
  void UpperCase(char* bytes, std::size_t size) override {
    FakePlatform::UpperCase(bytes, size);
    for (std::size_t i = 0; i < size; ++i) {
      const auto byte = static_cast<unsigned char>(bytes[i]);
      if (byte >= 0xe0 && byte != 0xf7 && byte != 0xff) bytes[i] = static_cast<char>(byte - 0x20);
    }
  }
};

TEST(HashedStringListTest, IndexesFollowEveryChange) {
  Latin1Platform platform;
  THashedStringList list(platform);
  for (const char* line : {"Name=1", "plain", "\xe9t\xe9=2", "name=3"}) list.Add(line);
  EXPECT_EQ(list.FindName("NAME"), 3);
  EXPECT_EQ(list.FindName("\xc9T\xc9"), 2);
  EXPECT_EQ(list.FindName("plain"), -1);
  EXPECT_EQ(list.FindLine("PLAIN"), 1);
  EXPECT_EQ(list.FindLine("Name"), -1);
  list.Delete(0);
  EXPECT_EQ(list.FindName("name"), 2);
  EXPECT_EQ(list.FindLine("plain"), 0);
  list.Put(2, "other=3");
  EXPECT_EQ(list.FindName("name"), -1);
  list.Add("NAME=4");
  EXPECT_EQ(list.FindName("name"), 3);
  EXPECT_EQ(list.FindLine("name=4"), 3);
  list.Clear();
  EXPECT_EQ(list.FindLine("plain"), -1);
  EXPECT_EQ(list.FindName("name"), -1);
}

}  // namespace
}  // namespace lw
