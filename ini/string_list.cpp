#include "ini/string_list.h"

#include <cstring>
#include <utility>

#include "ini/resource_stream.h"
#include "ini/text_file.h"
#include "ini/text_lines.h"

namespace lw {

TStringList::Line::Line(std::string_view bytes, bool own) : view_(bytes) {
  if (!own || bytes.empty()) return;
  owned_ = std::make_unique_for_overwrite<char[]>(bytes.size());
  std::memcpy(owned_.get(), bytes.data(), bytes.size());
  view_ = {owned_.get(), bytes.size()};
}

void TStringList::Add(std::string_view line) {
  items_.emplace_back(line, true);
  Changed();
}

void TStringList::AddBorrowed(std::string_view line) {
  items_.emplace_back(line, false);
  Changed();
}

void TStringList::Put(int index, std::string_view line) {
  items_[static_cast<std::size_t>(index)] = Line(line, true);
  Changed();
}

void TStringList::Delete(int index) {
  items_.erase(items_.begin() + index);
  Changed();
}

void TStringList::Clear() {
  if (items_.empty()) return;
  items_.clear();
  Changed();
}

void TStringList::FoldCase(char* bytes, std::size_t size) const {
  if (platform_ != nullptr) {
    platform_->UpperCase(bytes, size);
    return;
  }
  for (std::size_t i = 0; i < size; ++i) {
    if (bytes[i] >= 'a' && bytes[i] <= 'z') bytes[i] = static_cast<char>(bytes[i] - 'a' + 'A');
  }
}

int TStringList::FindLine(std::string_view line) const {
  std::string wanted(line);
  FoldCase(wanted.data(), wanted.size());
  std::string entry;
  for (int i = Count() - 1; i >= 0; --i) {
    entry = (*this)[i];
    FoldCase(entry.data(), entry.size());
    if (entry == wanted) return i;
  }
  return -1;
}

int TStringList::FindName(std::string_view name) const {
  std::string wanted(name);
  FoldCase(wanted.data(), wanted.size());
  std::string entry;
  for (int i = Count() - 1; i >= 0; --i) {
    std::string_view entryName;
    if (!LineName((*this)[i], entryName)) continue;
    entry = entryName;
    FoldCase(entry.data(), entry.size());
    if (entry == wanted) return i;
  }
  return -1;
}

void TStringList::SplitText(std::string_view text) {
  Clear();
  items_.reserve(LineCountHint(text));
  ForEachLine(text, [this](std::string_view line) { items_.emplace_back(line, true); });
  Changed();
}

std::string TStringList::JoinLines() const {
  std::size_t size = 0;
  for (const std::string_view line : *this) size += line.size() + 2;
  std::string text;
  text.reserve(size);
  for (const std::string_view line : *this) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TStringList::LoadFromFile(Platform& platform, std::string_view fileName) {
  SplitText(ReadTextFile(platform, fileName));
}

void TStringList::LoadFromStream(TStream& stream) {
  const std::size_t size = stream.Size();
  const std::size_t position = stream.Position();
  std::string text(size > position ? size - position : 0, '\0');
  text.resize(stream.Read(text.data(), text.size()));
  SplitText(text);
}

void TStringList::SaveToFile(Platform& platform, std::string_view fileName) const {
  WriteTextFile(platform, fileName, JoinLines());
}

}  // namespace lw
