#include "ini/string_hash.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>

namespace lw {
namespace {

std::uint64_t Rotl(std::uint64_t x, int bits) {
  return (x << bits) | (x >> (64 - bits));
}

struct SipState {
  std::uint64_t v0, v1, v2, v3;

  void Round() {
    v0 += v1;
    v1 = Rotl(v1, 13);
    v1 ^= v0;
    v0 = Rotl(v0, 32);
    v2 += v3;
    v3 = Rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = Rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = Rotl(v1, 17);
    v1 ^= v2;
    v2 = Rotl(v2, 32);
  }
  void Rounds(int count) {
    for (int i = 0; i < count; ++i) Round();
  }
};

std::uint64_t LoadLittleEndian(const unsigned char* bytes, std::size_t count) {
  std::uint64_t word = 0;
  for (std::size_t i = 0; i < count; ++i) word |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
  return word;
}

struct ProcessKey {
  std::uint64_t k0, k1;
};

// Drawn once per process. Should the system offer no random source, the addresses the
// loader and the allocator chose still differ from run to run.
ProcessKey DrawProcessKey() {
  try {
    std::random_device device;
    std::uniform_int_distribution<std::uint64_t> any;
    return {any(device), any(device)};
  } catch (...) {
    static const char anchor = 0;
    const auto heap = std::make_unique<char>();
    const auto code = reinterpret_cast<std::uintptr_t>(&DrawProcessKey);
    return {
        reinterpret_cast<std::uintptr_t>(&anchor) ^ reinterpret_cast<std::uintptr_t>(heap.get()),
        code ^ (reinterpret_cast<std::uintptr_t>(heap.get()) << 16)};
  }
}

const ProcessKey& TheProcessKey() {
  static const ProcessKey key = DrawProcessKey();
  return key;
}

}  // namespace

std::uint64_t TStringHash::SipHash(std::string_view bytes, std::uint64_t k0, std::uint64_t k1,
                                   int compressionRounds, int finalRounds) {
  SipState s{k0 ^ 0x736f6d6570736575ull, k1 ^ 0x646f72616e646f6dull, k0 ^ 0x6c7967656e657261ull,
             k1 ^ 0x7465646279746573ull};
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t whole = bytes.size() / 8 * 8;
  for (std::size_t i = 0; i < whole; i += 8) {
    std::uint64_t m;
    std::memcpy(&m, p + i, 8);
    if constexpr (std::endian::native == std::endian::big) m = LoadLittleEndian(p + i, 8);
    s.v3 ^= m;
    s.Rounds(compressionRounds);
    s.v0 ^= m;
  }
  const std::uint64_t last = (static_cast<std::uint64_t>(bytes.size()) << 56) |
                             LoadLittleEndian(p + whole, bytes.size() - whole);
  s.v3 ^= last;
  s.Rounds(compressionRounds);
  s.v0 ^= last;
  s.v2 ^= 0xff;
  s.Rounds(finalRounds);
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

std::uint64_t TStringHash::HashKey(std::string_view key) const {
  const ProcessKey& k = TheProcessKey();
  return SipHash(key, k.k0, k.k1, 1, 3);
}

void TStringHash::Clear() {
  std::fill(heads_.begin(), heads_.end(), -1);
  links_.clear();
}

void TStringHash::Reserve(std::size_t count) {
  links_.reserve(count);
  if (count > heads_.size()) Grow(std::bit_ceil(count));
}

// Past the limit, the library's own raise of std::length_error (the Windows builds' is smaller).
void TStringHash::Add(std::string_view key) {
  if (links_.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    std::__throw_length_error("too many entries to index");
  }
  const auto hash = static_cast<std::uint32_t>(HashKey(key));
  const auto entry = static_cast<std::int32_t>(links_.size());
  links_.push_back({-1, hash});
  if (links_.size() > heads_.size()) {
    Grow(std::max<std::size_t>(16, heads_.size() * 2));  // links the new entry too
  } else {
    Chain(hash, entry);
  }
}

void TStringHash::AddNone() {
  if (links_.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    std::__throw_length_error("too many entries to index");
  }
  links_.push_back({kNoKey, 0});
}

void TStringHash::Chain(std::uint32_t hash, std::int32_t entry) {
  std::int32_t& head = heads_[hash & (heads_.size() - 1)];
  links_[static_cast<std::size_t>(entry)].next = head;
  head = entry;
}

void TStringHash::Grow(std::size_t buckets) {
  heads_.assign(buckets, -1);
  for (std::size_t i = 0; i < links_.size(); ++i) {
    if (links_[i].next != kNoKey) Chain(links_[i].hash, static_cast<std::int32_t>(i));
  }
}

std::size_t TStringHash::LongestChain() const {
  std::size_t longest = 0;
  for (const std::int32_t head : heads_) {
    std::size_t length = 0;
    for (std::int32_t entry = head; entry >= 0;
         entry = links_[static_cast<std::size_t>(entry)].next) {
      ++length;
    }
    longest = std::max(longest, length);
  }
  return longest;
}

}  // namespace lw
