// A string-to-position table of 256 bucket chains, newest item at the head of its chain.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lw {

// One chain item. Keys live in the table's key buffer; links are item numbers.
struct THashItem {
  std::int32_t next;  // -1 ends the chain
  std::int32_t value;
  std::uint32_t hash;  // HashKey of the key, so most mismatches skip the byte compare
  std::uint32_t keySize;
  std::size_t keyOffset;
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
  // Puts (key, value) at the head of the key's chain.
  void Add(std::string_view key, std::int32_t value) {
    Add(key, value, [](char*, std::size_t) {});
  }
  // Adds the key as `transform` changes a copy of it in place (bytes, size): folding
  // straight into the table saves a copy per key.
  template <typename Transform>
  void Add(std::string_view key, std::int32_t value, Transform&& transform) {
    const std::size_t offset = keys_.size();
    keys_ += key;
    transform(keys_.data() + offset, key.size());
    Link(offset, key.size(), value);
  }
  // Value of the first item in the key's chain whose key matches, or -1.
  std::int32_t ValueOf(std::string_view key) const;

 private:
  void Link(std::size_t keyOffset, std::size_t keySize, std::int32_t value);
  std::string_view KeyOf(const THashItem& item) const {
    return std::string_view(keys_).substr(item.keyOffset, item.keySize);
  }

  std::array<std::int32_t, kBucketCount> heads_;
  std::vector<THashItem> items_;
  std::string keys_;  // every key's bytes, end to end, so that items allocate nothing
};

}  // namespace lw
