// A string list whose whole-entry and name lookups go through hash tables. A table is
// built on the first lookup that needs it, follows entries added at the end, and is
// dropped by any other change.
#pragma once

#include <string>
#include <string_view>

#include "ini/string_hash.h"
#include "ini/string_list.h"

namespace lw {

class Platform;

class THashedStringList : public TStringList {
 public:
  explicit THashedStringList(Platform& platform) : TStringList(platform) {}
  THashedStringList(THashedStringList&&) noexcept = default;
  THashedStringList& operator=(THashedStringList&&) noexcept = default;

  int FindLine(std::string_view line) const override;
  int FindName(std::string_view name) const override;

 protected:
  void Changed(int from) override;

 private:
  // Entries the tables do not cover yet are added to them.
  void IndexLines() const;
  void IndexNames() const;

  mutable TStringHash lineIndex_;
  mutable TStringHash nameIndex_;
  mutable std::string key_;        // the folded key of a lookup or of an entry to add
  mutable std::string candidate_;  // the folded key of an entry met on a lookup
};

}  // namespace lw
