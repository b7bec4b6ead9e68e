// Letter case as lookups ignore it: names are equal when their upper-cased bytes are.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/ascii_case.h"
#include "platform/platform.h"

namespace lw {

class CaseFold {
 public:
  // Without a platform only ASCII letters fold.
  explicit CaseFold(Platform* platform = nullptr) : platform_(platform) {}

  // Upper-cases bytes in place: the platform's ANSI upper-casing, or ASCII letters.
  void Apply(char* bytes, std::size_t size) const {
    if (platform_ != nullptr) {
      platform_->UpperCase(bytes, size);
      return;
    }
    AsciiUpperInPlace(bytes, size);
  }

  // The folded copy of `text`, kept in `buffer`.
  std::string_view Folded(std::string_view text, std::string& buffer) const {
    buffer.assign(text);
    Apply(buffer.data(), buffer.size());
    return buffer;
  }

  // Whether `candidate` folds to `folded`, the folded form of `key`. Bytes equal to the
  // key's need no folding: upper-casing maps equal bytes to equal bytes.
  bool Matches(std::string_view candidate, std::string_view key, std::string_view folded,
               std::string& buffer) const {
    if (candidate.size() != key.size()) return false;
    if (key.empty() || std::memcmp(candidate.data(), key.data(), key.size()) == 0) return true;
    return Folded(candidate, buffer) == folded;
  }

 private:
  Platform* platform_;
};

}  // namespace lw
