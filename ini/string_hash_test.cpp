#include "ini/string_hash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace lw {
namespace {

// A table and the keys of its entries, as a list keeps them.
template <typename Hash = TStringHash>
class KeyedTable {
 public:
  void Add(std::string_view key) {
    keys_.emplace_back(key);
    hash_.Add(key);
  }
  std::int32_t Find(std::string_view key) {
    return hash_.Find(key, [&](std::int32_t entry) {
      ++asked_;
      return keys_[static_cast<std::size_t>(entry)] == key;
    });
  }
  void Clear() {
    keys_.clear();
    hash_.Clear();
  }
  Hash& Table() { return hash_; }
  int Asked() const { return asked_; }

 private:
  Hash hash_;
  std::vector<std::string> keys_;
  int asked_ = 0;
};

TEST(StringHashTest, SipHashMatchesThePublishedVectors) {
  // SipHash-2-4 under the key 00 01 .. 0F, of the empty message and of 00 01 .. 0E.
  const std::uint64_t k0 = 0x0706050403020100ull;
  const std::uint64_t k1 = 0x0F0E0D0C0B0A0908ull;
  std::string fifteen;
  for (char c = 0; c < 15; ++c) fifteen += c;
  EXPECT_EQ(TStringHash::SipHash("", k0, k1, 2, 4), 0x726fdb47dd0e0e31ull);
  EXPECT_EQ(TStringHash::SipHash(fifteen, k0, k1, 2, 4), 0xa129ca6149be45e5ull);
  // Keyed: the same bytes hash apart under another key, and alike in every table.
  EXPECT_NE(TStringHash::SipHash(fifteen, k0 + 1, k1, 2, 4), 0xa129ca6149be45e5ull);
  const TStringHash one;
  const TStringHash other;
  EXPECT_EQ(one.HashKey("BRANCH OFFICE 1"), other.HashKey("BRANCH OFFICE 1"));
  EXPECT_NE(one.HashKey("BRANCH OFFICE 1"), one.HashKey("BRANCH OFFICE 2"));
}

TEST(StringHashTest, NewestEntryOfAKeyWinsAndClearEmpties) {
  KeyedTable<> table;
  for (const char* key : {"KEY", "A", "\x10\x01", "KEY"}) table.Add(key);
  table.Table().AddNone();
  EXPECT_EQ(table.Find("KEY"), 3);
  EXPECT_EQ(table.Find("A"), 1);
  EXPECT_EQ(table.Find("\x10\x01"), 2);
  EXPECT_EQ(table.Find("KE"), -1);
  EXPECT_EQ(table.Find("key"), -1);
  EXPECT_EQ(table.Table().Count(), 5u);
  table.Clear();
  EXPECT_EQ(table.Find("KEY"), -1);
  EXPECT_EQ(table.Table().Count(), 0u);
}

// Hashes by a few bytes only, so that many keys share a full hash and a bucket.
class CollidingHash : public TStringHash {
 public:
  std::uint64_t HashKey(std::string_view key) const override {
    // Bucket 7 always; full hashes differ only by length.
    return static_cast<std::uint64_t>(key.size() % 4) << 8 | 7u;
  }
};

std::string KeyNumber(int i) {
  std::string key = "K";
  key += std::to_string(i % 97);
  return key;
}

// The newest entry of each key, found by a plain search.
std::map<std::string, std::int32_t> Newest(int count) {
  std::map<std::string, std::int32_t> newest;
  for (int i = 0; i < count; ++i) newest[KeyNumber(i)] = i;
  return newest;
}

TEST(StringHashTest, CollidingHashesStillFindTheNewestEqualKey) {
  for (const int count : {10, 256, 257, 600, 3000}) {
    KeyedTable<CollidingHash> table;
    for (int i = 0; i < count; ++i) table.Add(KeyNumber(i));
    for (const auto& [key, value] : Newest(count)) EXPECT_EQ(table.Find(key), value) << count;
    EXPECT_EQ(table.Find("K97"), -1);  // same hash as K1..K9 pairs, no equal key
    EXPECT_EQ(table.Find(""), -1);
    // The chains really are long: the walks above went through most entries.
    EXPECT_GE(table.Table().LongestChain(), static_cast<std::size_t>(count) / 2);
  }
}

TEST(StringHashTest, ClearForgetsEveryEntryAcrossGrowth) {
  KeyedTable<> table;
  for (int i = 0; i < 1000; ++i) table.Add(KeyNumber(i));
  table.Clear();
  EXPECT_EQ(table.Find("K1"), -1);
  // Refilled below and then far above the buckets it had.
  for (int i = 0; i < 5; ++i) table.Add(KeyNumber(i));
  EXPECT_EQ(table.Find("K1"), 1);
  EXPECT_EQ(table.Find("K50"), -1);
  for (int i = 5; i < 4000; ++i) table.Add(KeyNumber(i));
  EXPECT_EQ(table.Find("K1"), 3978);
  EXPECT_EQ(table.Find("K96"), 3976);
  table.Table().Reserve(100000);  // growing keeps every entry and its order
  EXPECT_EQ(table.Find("K4"), 3981);
  table.Add("K4");
  EXPECT_EQ(table.Find("K4"), 4000);
}

TEST(StringHashTest, RealHashOfBranchNamesFindsEverySection) {
  KeyedTable<> table;
  const int count = 5000;
  for (int i = 0; i < count; ++i) table.Add("BRANCH OFFICE " + std::to_string(i));
  table.Add("BRANCH OFFICE 17");
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(table.Find("BRANCH OFFICE " + std::to_string(i)), i == 17 ? count : i);
  }
  EXPECT_EQ(table.Find("BRANCH OFFICE " + std::to_string(count)), -1);
}

TEST(StringHashTest, KeysAreAskedBackOnlyOnEqualHash) {
  for (const int count : {40, 2000}) {
    KeyedTable<CollidingHash> table;
    for (int i = 0; i < count; ++i) table.Add(KeyNumber(i));
    for (const auto& [key, value] : Newest(count)) EXPECT_EQ(table.Find(key), value);
    const int before = table.Asked();
    EXPECT_EQ(table.Find("K1234"), -1);  // no key of five bytes, so no equal hash
    EXPECT_EQ(table.Asked(), before);
  }
}

// h := (h rotated left by 2) xor byte: the hash whose collisions anyone can plan.
std::uint32_t RotateXor(std::string_view key) {
  std::uint32_t hash = 0;
  for (const char byte : key) {
    hash = ((hash << 2) | (hash >> 30)) ^ static_cast<unsigned char>(byte);
  }
  return hash;
}

// 32 digits: a number, then the same digits each xor 1. Bytes 16 apart are rotated alike,
// so every such name has the same RotateXor.
std::string PlannedCollision(int i) {
  std::string digits = std::to_string(i);
  digits.insert(0, 16 - digits.size(), '0');
  std::string name = digits;
  for (const char digit : digits) name += static_cast<char>(digit ^ 1);
  return name;
}

TEST(StringHashTest, NamesPlannedToCollideSpreadOverTheBuckets) {
  const int count = 4000;
  KeyedTable<> table;
  for (int i = 0; i < count; ++i) {
    const std::string name = PlannedCollision(i);
    ASSERT_EQ(RotateXor(name), RotateXor(PlannedCollision(0))) << name;
    table.Add(name);
  }
  // One chain of 4000 under RotateXor; a handful at most under a keyed hash.
  EXPECT_LE(table.Table().LongestChain(), 12u);
  for (int i = 0; i < count; ++i) ASSERT_EQ(table.Find(PlannedCollision(i)), i);
  EXPECT_EQ(table.Find(PlannedCollision(count)), -1);
}

}  // namespace
}  // namespace lw
