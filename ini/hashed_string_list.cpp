#include "ini/hashed_string_list.h"

#include <cstddef>

namespace lw {

void THashedStringList::Changed(int from) {
  const auto first = static_cast<std::size_t>(from);
  if (first < lineIndex_.Count()) lineIndex_.Clear();
  if (first < nameIndex_.Count()) nameIndex_.Clear();
}

void THashedStringList::IndexLines() const {
  lineIndex_.Reserve(static_cast<std::size_t>(Count()));
  for (auto i = static_cast<int>(lineIndex_.Count()); i < Count(); ++i) {
    lineIndex_.Add(Fold().Folded((*this)[i], key_));
  }
}

void THashedStringList::IndexNames() const {
  nameIndex_.Reserve(static_cast<std::size_t>(Count()));
  for (auto i = static_cast<int>(nameIndex_.Count()); i < Count(); ++i) {
    std::string_view name;
    if (LineName((*this)[i], name)) {
      nameIndex_.Add(Fold().Folded(name, key_));
    } else {
      nameIndex_.AddNone();
    }
  }
}

int THashedStringList::FindLine(std::string_view line) const {
  IndexLines();
  const std::string_view folded = Fold().Folded(line, key_);
  return lineIndex_.Find(
      folded, [&](std::int32_t i) { return Fold().Matches((*this)[i], line, folded, candidate_); });
}

int THashedStringList::FindName(std::string_view name) const {
  IndexNames();
  const std::string_view folded = Fold().Folded(name, key_);
  return nameIndex_.Find(folded, [&](std::int32_t i) {
    std::string_view entryName;
    LineName((*this)[i], entryName);
    return Fold().Matches(entryName, name, folded, candidate_);
  });
}

}  // namespace lw
