#include "ini/hashed_string_list.h"

namespace lw {

void THashedStringList::Changed() {
  TStringList::Changed();
  lineIndexValid_ = false;
  nameIndexValid_ = false;
}

std::string_view THashedStringList::Fold(std::string_view text) const {
  scratch_.assign(text);
  FoldCase(scratch_.data(), scratch_.size());
  return scratch_;
}

void THashedStringList::RebuildLineIndex() const {
  const auto fold = [this](char* bytes, std::size_t size) { FoldCase(bytes, size); };
  if (!lineIndex_) lineIndex_ = std::make_unique<TStringHash>();
  lineIndex_->Clear();
  std::size_t keyBytes = 0;
  for (const std::string& entry : items_) keyBytes += entry.size();
  lineIndex_->Reserve(items_.size(), keyBytes);
  for (int i = 0; i < Count(); ++i) lineIndex_->Add((*this)[i], i, fold);
  lineIndexValid_ = true;
}

void THashedStringList::RebuildNameIndex() const {
  const auto fold = [this](char* bytes, std::size_t size) { FoldCase(bytes, size); };
  if (!nameIndex_) nameIndex_ = std::make_unique<TStringHash>();
  nameIndex_->Clear();
  for (int i = 0; i < Count(); ++i) {
    std::string_view name;
    if (LineName((*this)[i], name)) nameIndex_->Add(name, i, fold);
  }
  nameIndexValid_ = true;
}

int THashedStringList::FindLine(std::string_view line) const {
  if (!lineIndexValid_) RebuildLineIndex();
  return lineIndex_->ValueOf(Fold(line));
}

int THashedStringList::FindName(std::string_view name) const {
  if (!nameIndexValid_) RebuildNameIndex();
  return nameIndex_->ValueOf(Fold(name));
}

}  // namespace lw
