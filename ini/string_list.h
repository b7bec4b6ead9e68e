// An ordered, unsorted list of byte strings, and its text form.
#pragma once

#include <cstddef>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ini/case_fold.h"

namespace lw {

class Platform;
class TStream;

// Copies of byte strings in blocks that never move, so that views of them stay valid
// until Clear.
class ByteArena {
 public:
  const char* Keep(std::string_view bytes);
  void Clear();
  // Bytes kept since the last Clear.
  std::size_t Size() const { return kept_; }

 private:
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* free_ = nullptr;
  std::size_t room_ = 0;
  std::size_t kept_ = 0;
};

class TStringList {
  // One entry's bytes: a copy in the list's arena, or borrowed from elsewhere.
  class Line {
   public:
    Line(const char* data, std::size_t size, bool kept) : data_(data), size_(size << 1 | kept) {}
    std::string_view View() const { return {data_, size_ >> 1}; }
    bool Kept() const { return (size_ & 1) != 0; }

   private:
    const char* data_;
    std::size_t size_;  // size, then whether the arena holds the bytes
  };

 public:
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = std::string_view;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = std::string_view;

    const_iterator() = default;
    explicit const_iterator(const Line* line) : line_(line) {}
    std::string_view operator*() const { return line_->View(); }
    const_iterator& operator++() {
      ++line_;
      return *this;
    }
    const_iterator operator++(int) { return const_iterator(line_++); }
    bool operator==(const const_iterator&) const = default;

   private:
    const Line* line_ = nullptr;
  };

  // Lookups fold ASCII letters only.
  TStringList() = default;
  // Lookups fold letter case with the platform's ANSI upper-casing.
  explicit TStringList(Platform& platform) : fold_(&platform) {}
  TStringList(const TStringList&) = delete;
  TStringList& operator=(const TStringList&) = delete;
  TStringList(TStringList&&) noexcept = default;
  TStringList& operator=(TStringList&&) noexcept = default;
  virtual ~TStringList() = default;

  int Count() const { return static_cast<int>(items_.size()); }
  std::string_view operator[](int index) const {
    return items_[static_cast<std::size_t>(index)].View();
  }
  const_iterator begin() const { return const_iterator(items_.data()); }
  const_iterator end() const { return const_iterator(items_.data() + items_.size()); }

  // Stores a copy of `line`.
  void Add(std::string_view line);
  // Stores `line` without copying it: its bytes must stay unchanged for as long as the
  // entry is in the list (see KeepAlive).
  void AddBorrowed(std::string_view line);
  // Shares ownership of `owner` until the next Clear, so that lines borrowed from the
  // bytes it holds stay valid for as long as the list has them, whatever their source
  // does meanwhile.
  void KeepAlive(std::shared_ptr<const void> owner);
  // Replaces the entry at `index` by a copy of `line`.
  void Put(int index, std::string_view line);
  void Delete(int index);
  void Clear();
  void Reserve(std::size_t count) { items_.reserve(count); }

  // Position of the last entry equal to `line` with letter case folded, or -1.
  virtual int FindLine(std::string_view line) const;
  // Position of the last entry whose name (the bytes before its first "=") matches `name`
  // with letter case folded, or -1; entries without "=" have no name.
  virtual int FindName(std::string_view name) const;

  // Empties the list, then fills it with the lines of `text` (which ends at a NUL byte).
  void SplitText(std::string_view text);
  // Every line followed by CR LF.
  std::string JoinLines() const;

  // Reads from the stream's position to its end and splits it.
  void LoadFromStream(TStream& stream);

 protected:
  // Called after every change: the entries from `from` on are new, changed or gone.
  virtual void Changed(int from) { (void)from; }
  const CaseFold& Fold() const { return fold_; }

 private:
  // Notes arena bytes no entry uses any more; once they are most of the arena, the used
  // bytes are copied to a fresh one.
  void NoteUnused(std::size_t bytes);

  std::vector<Line> items_;
  ByteArena arena_;
  std::size_t unused_ = 0;  // bytes of the arena no entry uses any more
  std::vector<std::shared_ptr<const void>> owners_;
  CaseFold fold_;
};

// The bytes before the first "=" of `line`, or nothing when it holds no "=".
inline bool LineName(std::string_view line, std::string_view& name) {
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return false;
  name = line.substr(0, equals);
  return true;
}

}  // namespace lw
