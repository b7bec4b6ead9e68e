#include "ini/string_hash.h"

namespace lw {

std::uint32_t TStringHash::HashKey(std::string_view key) const {
  std::uint32_t hash = 0;
  for (const char byte : key) {
    hash = ((hash << 2) | (hash >> 30)) ^ static_cast<unsigned char>(byte);
  }
  return hash;
}

void TStringHash::Clear() {
  heads_.fill(-1);
  items_.clear();
  keys_.clear();
}

void TStringHash::Reserve(std::size_t items, std::size_t keyBytes) {
  items_.reserve(items);
  keys_.reserve(keyBytes);
}

void TStringHash::Link(std::size_t keyOffset, std::size_t keySize, std::int32_t value) {
  const std::uint32_t hash = HashKey(std::string_view(keys_).substr(keyOffset, keySize));
  const std::size_t bucket = hash % kBucketCount;
  const auto item = static_cast<std::int32_t>(items_.size());
  items_.push_back({heads_[bucket], value, hash, static_cast<std::uint32_t>(keySize), keyOffset});
  heads_[bucket] = item;
}

std::int32_t TStringHash::ValueOf(std::string_view key) const {
  const std::uint32_t hash = HashKey(key);
  for (std::int32_t item = heads_[hash % kBucketCount]; item != -1;) {
    const THashItem& entry = items_[static_cast<std::size_t>(item)];
    if (entry.hash == hash && KeyOf(entry) == key) return entry.value;
    item = entry.next;
  }
  return -1;
}

}  // namespace lw
