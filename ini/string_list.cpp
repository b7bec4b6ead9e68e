#include "ini/string_list.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "ini/stream.h"
#include "ini/text_lines.h"

namespace lw {
namespace {

constexpr std::size_t kBlockSize = 16 * 1024;
// Below this many unused bytes the arena is never copied afresh.
constexpr std::size_t kUnusedSlack = 64 * 1024;

}  // namespace

const char* ByteArena::Keep(std::string_view bytes) {
  if (bytes.empty()) return "";
  if (bytes.size() > room_) {
    // Large copies get a block of their own and leave the current one open.
    if (bytes.size() > kBlockSize / 4) {
      blocks_.push_back(std::make_unique_for_overwrite<char[]>(bytes.size()));
      std::memcpy(blocks_.back().get(), bytes.data(), bytes.size());
      kept_ += bytes.size();
      return blocks_.back().get();
    }
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlockSize));
    free_ = blocks_.back().get();
    room_ = kBlockSize;
  }
  char* const copy = free_;
  std::memcpy(copy, bytes.data(), bytes.size());
  free_ += bytes.size();
  room_ -= bytes.size();
  kept_ += bytes.size();
  return copy;
}

void ByteArena::Clear() {
  blocks_.clear();
  free_ = nullptr;
  room_ = 0;
  kept_ = 0;
}

void TStringList::Add(std::string_view line) {
  items_.emplace_back(arena_.Keep(line), line.size(), true);
  Changed(Count() - 1);
}

void TStringList::AddBorrowed(std::string_view line) {
  items_.emplace_back(line.data(), line.size(), false);
  Changed(Count() - 1);
}

void TStringList::KeepAlive(std::shared_ptr<const void> owner) {
  if (owners_.empty() || owners_.back() != owner) owners_.push_back(std::move(owner));
}

void TStringList::Put(int index, std::string_view line) {
  const auto i = static_cast<std::size_t>(index);
  const std::size_t unused = items_[i].Kept() ? items_[i].View().size() : 0;
  items_[i] = Line(arena_.Keep(line), line.size(), true);
  NoteUnused(unused);
  Changed(index);
}

void TStringList::Delete(int index) {
  const auto i = static_cast<std::size_t>(index);
  const std::size_t unused = items_[i].Kept() ? items_[i].View().size() : 0;
  items_.erase(items_.begin() + index);
  NoteUnused(unused);
  Changed(index);
}

void TStringList::Clear() {
  const bool had = !items_.empty();
  items_.clear();
  arena_.Clear();
  unused_ = 0;
  owners_.clear();
  if (had) Changed(0);
}

void TStringList::NoteUnused(std::size_t bytes) {
  unused_ += bytes;
  if (unused_ <= kUnusedSlack || unused_ <= arena_.Size() / 2) return;
  ByteArena fresh;
  for (Line& item : items_) {
    if (item.Kept()) item = Line(fresh.Keep(item.View()), item.View().size(), true);
  }
  arena_ = std::move(fresh);
  unused_ = 0;
}

int TStringList::FindLine(std::string_view line) const {
  std::string wanted;
  std::string candidate;
  const std::string_view folded = fold_.Folded(line, wanted);
  for (int i = Count() - 1; i >= 0; --i) {
    if (fold_.Matches((*this)[i], line, folded, candidate)) return i;
  }
  return -1;
}

int TStringList::FindName(std::string_view name) const {
  std::string wanted;
  std::string candidate;
  const std::string_view folded = fold_.Folded(name, wanted);
  for (int i = Count() - 1; i >= 0; --i) {
    std::string_view entryName;
    if (LineName((*this)[i], entryName) && fold_.Matches(entryName, name, folded, candidate)) {
      return i;
    }
  }
  return -1;
}

void TStringList::SplitText(std::string_view text) {
  text = TextBeforeNul(text);
  // One copy of the whole text, made before Clear since `text` may lie in this list; the
  // lines are views of it.
  ByteArena fresh;
  const TextShape shape = ShapeOf(std::string_view(fresh.Keep(text), text.size()));
  Clear();
  arena_ = std::move(fresh);
  items_.reserve(LineCountHint(shape));
  ForEachLine(shape, [this](std::string_view line) {
    items_.emplace_back(line.data(), line.size(), true);
  });
  Changed(0);
}

std::string TStringList::JoinLines() const {
  std::size_t size = 0;
  for (const std::string_view line : *this) size += line.size() + 2;
  std::string text(size, '\0');
  char* out = text.data();
  for (const std::string_view line : *this) {
    if (!line.empty()) std::memcpy(out, line.data(), line.size());
    out += line.size();
    *out++ = '\r';
    *out++ = '\n';
  }
  return text;
}

void TStringList::LoadFromStream(TStream& stream) {
  const std::size_t size = stream.Size();
  const std::size_t position = stream.Position();
  std::string text(size > position ? size - position : 0, '\0');
  text.resize(stream.Read(text.data(), text.size()));
  SplitText(text);
}

}  // namespace lw
