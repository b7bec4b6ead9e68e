// An ordered, unsorted list of byte strings, and its text form.
#pragma once

#include <cstddef>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace lw {

class TStream;

class TStringList {
  // One entry's bytes: owned, or borrowed from text that outlives the list.
  class Line {
   public:
    Line(std::string_view bytes, bool own);

    std::string_view View() const { return view_; }

   private:
    std::unique_ptr<char[]> owned_;  // empty when borrowed; never moves its bytes
    std::string_view view_;
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
  explicit TStringList(Platform& platform) : platform_(&platform) {}
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
  // entry is in the list.
  void AddBorrowed(std::string_view line);
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

  // Reads the whole file (others may read it meanwhile, not write) and splits it.
  void LoadFromFile(Platform& platform, std::string_view fileName);
  // Reads from the stream's position to its end and splits it.
  void LoadFromStream(TStream& stream);
  // Replaces the file with JoinLines, safely (see WriteTextFile).
  void SaveToFile(Platform& platform, std::string_view fileName) const;

 protected:
  // Called after every change.
  virtual void Changed() {}
  // Upper-cases bytes in place, as lookups compare them.
  void FoldCase(char* bytes, std::size_t size) const;

  std::vector<Line> items_;

 private:
  Platform* platform_ = nullptr;  // none: ASCII folding
};

// The bytes before the first "=" of `line`, or nothing when it holds no "=".
inline bool LineName(std::string_view line, std::string_view& name) {
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return false;
  name = line.substr(0, equals);
  return true;
}

}  // namespace lw
