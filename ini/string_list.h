// An ordered, unsorted list of byte strings, and its text form.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace lw {

class TStream;

class TStringList {
 public:
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
  const std::string& operator[](int index) const { return items_[static_cast<std::size_t>(index)]; }
  std::vector<std::string>::const_iterator begin() const { return items_.begin(); }
  std::vector<std::string>::const_iterator end() const { return items_.end(); }

  void Add(std::string line);
  // Replaces the entry at `index`.
  void Put(int index, std::string line);
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

  std::vector<std::string> items_;

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
