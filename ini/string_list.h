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
  TStringList() = default;
  TStringList(const TStringList&) = delete;
  TStringList& operator=(const TStringList&) = delete;
  virtual ~TStringList() = default;

  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& operator[](int index) const { return items_[static_cast<std::size_t>(index)]; }

  void Add(std::string line);
  // Replaces the entry at `index`.
  void Put(int index, std::string line);
  void Delete(int index);
  void Clear();
  void Reserve(std::size_t count) { items_.reserve(count); }

  // Position of the entry equal to `line` (letter case folded), or -1.
  virtual int FindLine(std::string_view line) const;
  // Position of the entry whose name (bytes before its first "=") matches, or -1.
  virtual int FindName(std::string_view name) const;

  // Empties the list, then fills it with the lines of `text` (ends at a NUL byte).
  void SplitText(std::string_view text);
  // Every line followed by CR LF.
  std::string JoinLines() const;

  // Reads the whole file (shared for reading only) and splits it.
  void LoadFromFile(Platform& platform, std::string_view fileName);
  // Reads from the stream's position to its end and splits it.
  void LoadFromStream(TStream& stream);
  // Replaces the file with JoinLines, safely (see SaveTextFile).
  void SaveToFile(Platform& platform, std::string_view fileName) const;

 protected:
  // Called after every change.
  virtual void Changed() {}

  std::vector<std::string> items_;
};

}  // namespace lw
