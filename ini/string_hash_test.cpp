#include "ini/string_hash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace lw {
namespace {

// A table and the keys of its entries, as a list keeps them.
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
  TStringHash& Table() { return hash_; }
  int Asked() const { return asked_; }

 private:
  TStringHash hash_;
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
  KeyedTable table;
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

std::string KeyNumber(int i) {
  std::string key = "K";
  key += std::to_string(i % 97);
  return key;
}

TEST(StringHashTest, ClearForgetsEveryEntryAcrossGrowth) {
  KeyedTable table;
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
  KeyedTable table;
  const int count = 5000;
  for (int i = 0; i < count; ++i) table.Add("BRANCH OFFICE " + std::to_string(i));
  table.Add("BRANCH OFFICE 17");
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(table.Find("BRANCH OFFICE " + std::to_string(i)), i == 17 ? count : i);
  }
  EXPECT_EQ(table.Find("BRANCH OFFICE " + std::to_string(count)), -1);
}

// Two keys whose hashes agree in the 32 bits a table keeps, found by trying numbered keys
// (a birthday search: about 80,000 of them on average).
std::pair<std::string, std::string> KeysOfOneHash() {
  const TStringHash hash;
  std::unordered_map<std::uint32_t, std::string> seen;
  for (int i = 0; i < 4000000; ++i) {
    std::string key = "N";
    key += std::to_string(i);
    const auto [at, added] = seen.emplace(static_cast<std::uint32_t>(hash.HashKey(key)), key);
    if (!added) return {at->second, key};
  }
  ADD_FAILURE() << "no two keys of one hash";
  return {"a", "b"};
}

TEST(StringHashTest, KeysOfOneHashAreAskedBackAndToldApart) {
  const auto [older, newer] = KeysOfOneHash();
  KeyedTable table;
  table.Add(older);
  table.Add(newer);
  // Growing links every entry again; the newer of the pair stays ahead of the older.
  for (int i = 0; i < 3000; ++i) table.Add(KeyNumber(i));
  const struct {
    std::string key;
    std::int32_t entry;
    int asked;  // entries whose hash equals the key's, newest first, up to the key's own
  } cases[] = {{newer, 1, 1}, {older, 0, 2}, {"K5", 2917, 1}, {"K97", -1, 0}, {"", -1, 0}};
  for (const auto& c : cases) {
    const int before = table.Asked();
    EXPECT_EQ(table.Find(c.key), c.entry) << c.key;
    EXPECT_EQ(table.Asked() - before, c.asked) << c.key;
  }
  table.Add(older);
  EXPECT_EQ(table.Find(older), 3002);
  EXPECT_EQ(table.Find(newer), 1);
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
  KeyedTable table;
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
