#include "ini/string_hash.h"

#include <cstdint>
#include <stdexcept>

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
  keyOffsets_.clear();
  keys_.clear();
  newestOfHash_.clear();
  olderOfHash_.clear();
  distinctHashes_ = 0;
}

void TStringHash::Reserve(std::size_t items, std::size_t keyBytes) {
  items_.reserve(items);
  keys_.reserve(keyBytes);
}

void TStringHash::Add(std::string_view key, std::int32_t value) {
  keyOffsets_.push_back(keys_.size());
  keys_ += key;
  Link(HashKey(key), key.size(), value);
}

void TStringHash::Link(std::uint32_t hash, std::size_t keySize, std::int32_t value) {
  if (keySize != static_cast<std::uint32_t>(keySize)) throw std::length_error("hash key too long");
  const std::size_t bucket = hash % kBucketCount;
  const auto item = static_cast<std::int32_t>(items_.size());
  items_.push_back({heads_[bucket], value, hash, static_cast<std::uint32_t>(keySize)});
  heads_[bucket] = item;
  if (!newestOfHash_.empty()) {
    LinkSameHash(item);
  } else if (items_.size() > kSameHashThreshold) {
    // Oldest first, so that each hash ends up headed by its newest item.
    newestOfHash_.assign(kSameHashThreshold * 4, -1);
    for (std::int32_t i = 0; i <= item; ++i) LinkSameHash(i);
  }
}

std::size_t TStringHash::SlotOf(std::uint32_t hash) const {
  const std::size_t mask = newestOfHash_.size() - 1;
  // Rotate-and-xor hashes differ mostly in their low bits; spread them over the slots.
  std::uint32_t mixed = hash ^ (hash >> 16);
  mixed *= 0x85EBCA6Bu;
  mixed ^= mixed >> 13;
  mixed *= 0xC2B2AE35u;
  mixed ^= mixed >> 16;
  std::size_t slot = mixed & mask;
  while (newestOfHash_[slot] != -1 &&
         items_[static_cast<std::size_t>(newestOfHash_[slot])].hash != hash) {
    slot = (slot + 1) & mask;
  }
  return slot;
}

void TStringHash::LinkSameHash(std::int32_t item) {
  if ((distinctHashes_ + 1) * 2 > newestOfHash_.size()) GrowSameHash();
  const std::size_t slot = SlotOf(items_[static_cast<std::size_t>(item)].hash);
  if (newestOfHash_[slot] == -1) ++distinctHashes_;
  olderOfHash_.resize(static_cast<std::size_t>(item) + 1);
  olderOfHash_[static_cast<std::size_t>(item)] = newestOfHash_[slot];
  newestOfHash_[slot] = item;
}

void TStringHash::GrowSameHash() {
  std::vector<std::int32_t> old(newestOfHash_.size() * 2, -1);
  old.swap(newestOfHash_);
  for (const std::int32_t newest : old) {
    if (newest != -1) newestOfHash_[SlotOf(items_[static_cast<std::size_t>(newest)].hash)] = newest;
  }
}

}  // namespace lw
