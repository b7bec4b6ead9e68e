// An INI document held whole in memory: sections in order, each an ordered list of its
// stored lines. Lookups ignore letter case and find the last of several equal names.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ini/custom_ini_file.h"
#include "ini/hashed_string_list.h"
#include "ini/string_list.h"
#include "platform/platform.h"

namespace lw {

class TMemIniFile : public TCustomIniFile {
 public:
  // Loads the file when the name is not empty and a file is there to read (see
  // Platform::OpenForRead); raises EFOpenError when it cannot be read whole or holds a
  // NUL byte.
  TMemIniFile(Platform& platform, std::string fileName);
  // Lines may point into the document's own text.
  TMemIniFile(const TMemIniFile&) = delete;
  TMemIniFile& operator=(const TMemIniFile&) = delete;

  std::string GetValue(std::string_view section, std::string_view key,
                       std::string_view def) const override;
  void SetValue(std::string_view section, std::string_view key, std::string_view value) override;
  void GetKeyNames(std::string_view section, TStringList& target) const override;
  void GetSectionNames(TStringList& target) const override;
  void GetSectionLines(std::string_view section, TStringList& target) const override;
  void RemoveSection(std::string_view section) override;
  void RemoveKey(std::string_view section, std::string_view key) override;
  // Appends `line` as it is to the last section of that name, creating the section at the
  // end when missing; equal names already there are kept.
  void AppendLine(std::string_view section, std::string_view line);
  // Replaces the file with the canonical text, safely; raises EFCreateError or EWriteError.
  // Writes nothing when the file is known to hold that text already (as loaded, or as
  // last saved): no time stamp moves, and a read-only file that needs no change is fine.
  void SaveFile() override;

  // Replaces the whole content by parsing the lines.
  void LoadLines(const TStringList& lines);
  // Appends the canonical text form, one line per entry, to the target.
  void SaveLines(TStringList& target) const;

  // LoadLines of the text's lines, without building the list.
  void LoadText(std::string_view text);
  // The bytes SaveFile writes: a kept byte-order mark, then JoinLines of SaveLines.
  std::string SaveText() const;

  // Whether the loaded file began with a UTF-8 byte-order mark (kept for saving).
  bool HasByteOrderMark() const { return byteOrderMark_; }
  // Whether construction found the file and loaded it.
  bool Loaded() const { return loaded_; }

 private:
  void Clear();
  // Parses the document's own text_.
  void ParseText(std::string_view body);
  // Parses one source line into section `current` (-1: none yet), which a header changes;
  // `borrow`: the line lies in text_, and stored lines may point into it.
  void ParseLine(std::string_view line, int& current, bool borrow);
  // Line list of the last section of that name, appended when missing.
  THashedStringList& SectionFor(std::string_view section);

  Platform& platform_;
  // The loaded text; parsed lines that are stored as they stand point into it.
  std::string text_;
  // Entry i names section i, whose stored lines are lines_[i].
  THashedStringList sections_;
  std::vector<THashedStringList> lines_;
  bool byteOrderMark_ = false;
  bool loaded_ = false;
  // text_ is still the file's bytes as loaded.
  bool textIsFile_ = false;
  // The bytes the last SaveFile wrote, when it wrote.
  std::optional<std::string> written_;
};

}  // namespace lw
