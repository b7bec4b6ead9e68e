#include "ini/hashed_string_list.h"

namespace lw {

void THashedStringList::Changed() {
  TStringList::Changed();
  lineIndexValid_ = false;
  nameIndexValid_ = false;
}

std::string_view THashedStringList::Fold(std::string_view text, std::string& buffer) const {
  buffer.assign(text);
  FoldCase(buffer.data(), buffer.size());
  return buffer;
}

// Keys are not kept in the tables: an item's key is folded again from its entry when a
// lookup meets an item of equal hash and length.
void THashedStringList::RebuildLineIndex() const {
  if (!lineIndex_) lineIndex_ = std::make_unique<TStringHash>();
  lineIndex_->Clear();
  lineIndex_->Reserve(items_.size(), 0);
  for (int i = 0; i < Count(); ++i) lineIndex_->AddUnkept(Fold((*this)[i], scratch_), i);
  lineIndexValid_ = true;
}

void THashedStringList::RebuildNameIndex() const {
  if (!nameIndex_) nameIndex_ = std::make_unique<TStringHash>();
  nameIndex_->Clear();
  nameIndex_->Reserve(items_.size(), 0);
  for (int i = 0; i < Count(); ++i) {
    std::string_view name;
    if (LineName((*this)[i], name)) nameIndex_->AddUnkept(Fold(name, scratch_), i);
  }
  nameIndexValid_ = true;
}

int THashedStringList::FindLine(std::string_view line) const {
  if (!lineIndexValid_) RebuildLineIndex();
  return lineIndex_->ValueOf(Fold(line, scratch_),
                             [this](std::int32_t i) { return Fold((*this)[i], candidate_); });
}

int THashedStringList::FindName(std::string_view name) const {
  if (!nameIndexValid_) RebuildNameIndex();
  return nameIndex_->ValueOf(Fold(name, scratch_), [this](std::int32_t i) {
    std::string_view entryName;
    LineName((*this)[i], entryName);
    return Fold(entryName, candidate_);
  });
}

}  // namespace lw
