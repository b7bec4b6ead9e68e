#include "ini/string_hash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

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

// Hashes by a few bytes only, so that many keys share a full hash and a bucket.
class CollidingHash : public TStringHash {
 public:
  std::uint32_t HashKey(std::string_view key) const override {
    // Bucket 7 always; full hashes differ only by length.
    return static_cast<std::uint32_t>(key.size() % 4) << 8 | 7u;
  }
};

std::string KeyNumber(int i) {
  std::string key = "K";
  key += std::to_string(i % 97);
  return key;
}

// The newest item of each key, found by a plain search.
std::map<std::string, std::int32_t> Newest(int count) {
  std::map<std::string, std::int32_t> newest;
  for (int i = 0; i < count; ++i) newest[KeyNumber(i)] = i;
  return newest;
}

TEST(StringHashTest, CollidingHashesStillFindTheNewestEqualKey) {
  for (const int count : {10, 256, 257, 600, 3000}) {
    CollidingHash hash;
    for (int i = 0; i < count; ++i) hash.Add(KeyNumber(i), i);
    for (const auto& [key, value] : Newest(count)) EXPECT_EQ(hash.ValueOf(key), value) << count;
    EXPECT_EQ(hash.ValueOf("K97"), -1);  // same hash as K1..K9 pairs, no equal key
    EXPECT_EQ(hash.ValueOf(""), -1);
  }
}

TEST(StringHashTest, ClearForgetsTheSameHashLinks) {
  CollidingHash hash;
  for (int i = 0; i < 1000; ++i) hash.Add(KeyNumber(i), i);
  hash.Clear();
  EXPECT_EQ(hash.ValueOf("K1"), -1);
  // Refilled below and then above the size that keeps the links.
  for (int i = 0; i < 5; ++i) hash.Add(KeyNumber(i), i + 100);
  EXPECT_EQ(hash.ValueOf("K1"), 101);
  EXPECT_EQ(hash.ValueOf("K50"), -1);
  for (int i = 0; i < 400; ++i) hash.Add(KeyNumber(i), i);
  EXPECT_EQ(hash.ValueOf("K1"), 389);
  EXPECT_EQ(hash.ValueOf("K4"), 392);
  EXPECT_EQ(hash.ValueOf("K96"), 387);
}

TEST(StringHashTest, RealHashOfBranchNamesFindsEverySection) {
  TStringHash hash;
  const int count = 5000;
  for (int i = 0; i < count; ++i) hash.Add("BRANCH OFFICE " + std::to_string(i), i);
  hash.Add("BRANCH OFFICE 17", count);
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(hash.ValueOf("BRANCH OFFICE " + std::to_string(i)), i == 17 ? count : i);
  }
  EXPECT_EQ(hash.ValueOf("BRANCH OFFICE " + std::to_string(count)), -1);
}

TEST(StringHashTest, UnkeptKeysAreAskedBackOnlyOnEqualHashAndLength) {
  for (const int count : {40, 2000}) {
    CollidingHash hash;
    std::vector<std::string> keys;
    for (int i = 0; i < count; ++i) {
      keys.push_back(KeyNumber(i));
      hash.AddUnkept(keys.back(), i);
    }
    int asked = 0;
    const auto keyOf = [&](std::int32_t value) {
      ++asked;
      return std::string_view(keys[static_cast<std::size_t>(value)]);
    };
    for (const auto& [key, value] : Newest(count)) EXPECT_EQ(hash.ValueOf(key, keyOf), value);
    asked = 0;
    EXPECT_EQ(hash.ValueOf("K1234", keyOf), -1);  // no key of five bytes
    EXPECT_EQ(asked, 0);
  }
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
  for (int i = 0; i < 1000; ++i) list.Add(KeyNumber(i) + "=" + std::to_string(i));
  list.Add("k5");  // no "=": no name
  for (const auto& [key, value] : Newest(1000)) EXPECT_EQ(list.FindName(key), value);
  EXPECT_EQ(list.FindName("k5"), 975);
  list.Put(975, "x=1");
  EXPECT_EQ(list.FindName("k5"), 878);
  EXPECT_EQ(list.FindName("X"), 975);
}

TEST(StringListTest, BorrowedLinesAreCopiedOnReplace) {
  std::string text = "alpha\nbeta";
  TStringList list;
  list.AddBorrowed(std::string_view(text).substr(0, 5));
  list.Add(std::string_view(text).substr(6));
  EXPECT_EQ(list[0], "alpha");
  EXPECT_EQ(list[0].data(), text.data());  // not copied
  {
    std::string replacement = "gamma";
    list.Put(0, replacement);
  }
  text.assign(text.size(), '#');
  EXPECT_EQ(list[0], "gamma");
  EXPECT_EQ(list[1], "beta");
  TStringList moved = std::move(list);
  moved.Delete(0);
  ASSERT_EQ(moved.Count(), 1);
  EXPECT_EQ(moved[0], "beta");
  moved.Add("");
  EXPECT_EQ(moved[1], "");
  EXPECT_EQ(moved.JoinLines(), "beta\r\n\r\n");
}

}  // namespace
}  // namespace lw
