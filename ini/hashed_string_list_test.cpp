#include "ini/hashed_string_list.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "tests/fake_platform.h"

namespace lw {
namespace {

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

TEST(HashedStringListTest, ManyEntriesFollowChangesAndFindTheLast) {
  FakePlatform platform;
  THashedStringList list(platform);
  const int count = 2000;
  for (int i = 0; i < count; ++i) list.Add("Branch office " + std::to_string(i % 1500));
  for (int i = 0; i < 1500; ++i) {
    const int last = i < 500 ? 1500 + i : i;
    ASSERT_EQ(list.FindLine("BRANCH OFFICE " + std::to_string(i)), last) << i;
  }
  list.Delete(0);  // every later position moves down by one
  EXPECT_EQ(list.FindLine("branch office 0"), 1499);
  EXPECT_EQ(list.FindLine("branch office 600"), 599);
  list.Put(1499, "other");
  EXPECT_EQ(list.FindLine("branch office 0"), -1);
  EXPECT_EQ(list.FindLine("OTHER"), 1499);
  list.Add("BRANCH OFFICE 600");
  EXPECT_EQ(list.FindLine("branch office 600"), count - 1);
}

TEST(HashedStringListTest, NameIndexOfManyLinesWithEqualNames) {
  FakePlatform platform;
  THashedStringList list(platform);
  const auto name = [](int n) {
    std::string key = "K";
    key += std::to_string(n);
    return key;
  };
  // K0..K96 over and over: the last K<n> is the last position n + 97 m below 1000.
  for (int i = 0; i < 1000; ++i) list.Add(name(i % 97) + "=" + std::to_string(i));
  list.Add("k5");  // no "=": no name
  for (int n = 0; n < 97; ++n) EXPECT_EQ(list.FindName(name(n)), n + 97 * ((999 - n) / 97)) << n;
  EXPECT_EQ(list.FindName("k5"), 975);
  list.Put(975, "x=1");
  EXPECT_EQ(list.FindName("k5"), 878);
  EXPECT_EQ(list.FindName("X"), 975);
}

}  // namespace
}  // namespace lw
