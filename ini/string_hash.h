// An index of a list's entries by key: which is the newest entry of a given key.
//
// Entries are numbered in the order they are added (0, 1, ...); the table keeps no keys,
// only each entry's hash and chain link, and asks its owner to confirm a candidate. Keys
// are hashed with SipHash-1-3 under a key drawn once per process, so nobody can plan
// names that collide; the bucket array grows with the entries (at most one per bucket
// on average).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace lw {

class TStringHash {
 public:
  TStringHash() = default;
  TStringHash(const TStringHash&) = delete;
  TStringHash& operator=(const TStringHash&) = delete;
  TStringHash(TStringHash&&) noexcept = default;
  TStringHash& operator=(TStringHash&&) noexcept = default;

  // SipHash-1-3 of the key's bytes under this process's random key.
  std::uint64_t HashKey(std::string_view key) const;

  // Forgets every entry; the memory is kept for the next fill.
  void Clear();
  // Room for `count` entries without growing.
  void Reserve(std::size_t count);
  // Number of entries added since the last Clear.
  std::size_t Count() const { return links_.size(); }

  // Adds entry number Count() under `key` (folded as lookups fold).
  void Add(std::string_view key);
  // Adds entry number Count() without a key: no lookup finds it.
  void AddNone();

  // The newest entry whose hash equals the key's and for which isKey(entry) confirms that
  // its key is `key`; -1 when there is none.
  template <typename IsKey>
  std::int32_t Find(std::string_view key, IsKey&& isKey) const {
    if (heads_.empty()) return -1;
    const auto hash = static_cast<std::uint32_t>(HashKey(key));
    for (std::int32_t entry = heads_[hash & (heads_.size() - 1)]; entry >= 0;
         entry = links_[static_cast<std::size_t>(entry)].next) {
      if (links_[static_cast<std::size_t>(entry)].hash == hash && isKey(entry)) return entry;
    }
    return -1;
  }

  // Entries in the longest bucket chain: how well the hash spreads the keys.
  std::size_t LongestChain() const;

  // The SipHash-c-d function itself, for a given 128-bit key.
  static std::uint64_t SipHash(std::string_view bytes, std::uint64_t k0, std::uint64_t k1,
                               int compressionRounds, int finalRounds);

 private:
  struct Link {
    std::int32_t next;   // older entry of the same bucket; -1 ends, kNoKey: never linked
    std::uint32_t hash;  // low half of HashKey
  };
  static constexpr std::int32_t kNoKey = -2;

  // Puts `entry` at the head of its bucket.
  void Chain(std::uint32_t hash, std::int32_t entry);
  // Doubles the buckets and links every keyed entry again, oldest first.
  void Grow(std::size_t buckets);

  std::vector<std::int32_t> heads_;  // newest entry of each bucket; a power of two long
  std::vector<Link> links_;          // by entry
};

}  // namespace lw
