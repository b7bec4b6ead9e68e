// A string-to-position table of 256 bucket chains, newest item at the head of its chain.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lw {

// One chain item; links are item numbers.
struct THashItem {
  std::int32_t next;  // -1 ends the chain
  std::int32_t value;
  std::uint32_t hash;  // HashKey of the key, so most mismatches skip the byte compare
  std::uint32_t keySize;
};

class TStringHash {
 public:
  static constexpr std::size_t kBucketCount = 256;

  TStringHash() { Clear(); }
  TStringHash(const TStringHash&) = delete;
  TStringHash& operator=(const TStringHash&) = delete;
  TStringHash(TStringHash&&) noexcept = default;
  TStringHash& operator=(TStringHash&&) noexcept = default;
  virtual ~TStringHash() = default;

  // h := (h rotated left by 2) xor byte, over every byte of the key.
  virtual std::uint32_t HashKey(std::string_view key) const;

  // Empties every chain; the storage is kept for the next fill.
  void Clear();
  void Reserve(std::size_t items, std::size_t keyBytes);
  // Puts (key, value) at the head of the key's chain; the table keeps a copy of the key.
  void Add(std::string_view key, std::int32_t value);
  // The same without keeping the key, for keys the caller can give back from their value;
  // such a table is looked up only through ValueOf(key, keyOf).
  void AddUnkept(std::string_view key, std::int32_t value) {
    Link(HashKey(key), key.size(), value);
  }
  // Value of the first item in the key's chain whose key matches, or -1.
  std::int32_t ValueOf(std::string_view key) const {
    return Find(key, [this](std::size_t item) {
      return std::string_view(keys_).substr(keyOffsets_[item], items_[item].keySize);
    });
  }
  // The same for unkept keys: keyOf(value) gives the key of the item holding value.
  template <typename KeyOf>
  std::int32_t ValueOf(std::string_view key, KeyOf&& keyOf) const {
    return Find(key, [this, &keyOf](std::size_t item) { return keyOf(items_[item].value); });
  }

  // Tables of more items than this also keep the same-hash links below.
  static constexpr std::size_t kSameHashThreshold = kBucketCount;

 private:
  void Link(std::uint32_t hash, std::size_t keySize, std::int32_t value);
  // Makes `item` the newest of its full hash in the same-hash links.
  void LinkSameHash(std::int32_t item);
  void GrowSameHash();
  std::size_t SlotOf(std::uint32_t hash) const;

  template <typename KeyAt>
  std::int32_t Find(std::string_view key, KeyAt&& keyAt) const {
    const std::uint32_t hash = HashKey(key);
    const auto matches = [&](std::int32_t item) {
      const THashItem& entry = items_[static_cast<std::size_t>(item)];
      return entry.hash == hash && entry.keySize == key.size() &&
             keyAt(static_cast<std::size_t>(item)) == key;
    };
    if (!newestOfHash_.empty()) {
      for (std::int32_t item = newestOfHash_[SlotOf(hash)]; item != -1;
           item = olderOfHash_[static_cast<std::size_t>(item)]) {
        if (matches(item)) return items_[static_cast<std::size_t>(item)].value;
      }
      return -1;
    }
    for (std::int32_t item = heads_[hash % kBucketCount]; item != -1;
         item = items_[static_cast<std::size_t>(item)].next) {
      if (matches(item)) return items_[static_cast<std::size_t>(item)].value;
    }
    return -1;
  }

  std::array<std::int32_t, kBucketCount> heads_;
  std::vector<THashItem> items_;
  std::vector<std::size_t> keyOffsets_;  // by item, for kept keys
  std::string keys_;                     // every kept key's bytes, end to end
  // A faster walk of the same chain: newest item of each full hash, and from each item
  // the next older one of that hash (all in chain order); empty in small tables.
  std::vector<std::int32_t> newestOfHash_;  // open addressing, -1 empty
  std::vector<std::int32_t> olderOfHash_;   // by item
  std::size_t distinctHashes_ = 0;
};

}  // namespace lw
