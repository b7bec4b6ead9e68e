// A string list whose whole-entry and name lookups go through hash tables, built on the
// first lookup after a change.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "ini/string_hash.h"
#include "ini/string_list.h"
#include "platform/platform.h"

namespace lw {

class THashedStringList : public TStringList {
 public:
  explicit THashedStringList(Platform& platform) : TStringList(platform) {}
  THashedStringList(THashedStringList&&) noexcept = default;
  THashedStringList& operator=(THashedStringList&&) noexcept = default;

  int FindLine(std::string_view line) const override;
  int FindName(std::string_view name) const override;

 protected:
  void Changed() override;

 private:
  // Case-folded copy of `text` in `buffer`.
  std::string_view Fold(std::string_view text, std::string& buffer) const;
  void RebuildLineIndex() const;
  void RebuildNameIndex() const;

  // Created on first use, then only emptied and refilled.
  mutable std::unique_ptr<TStringHash> lineIndex_;
  mutable std::unique_ptr<TStringHash> nameIndex_;
  mutable bool lineIndexValid_ = false;
  mutable bool nameIndexValid_ = false;
  mutable std::string scratch_;    // folded keys to add or look up
  mutable std::string candidate_;  // folded key of an item met on a lookup
};

}  // namespace lw
