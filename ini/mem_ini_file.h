// An INI document held whole in memory: sections in order, each an ordered list of its
// stored lines. Lookups ignore letter case and find the last of several equal names.
//
// The lines live in a LineStore, which keeps the loaded text once and gives only changed or
// rebuilt lines bytes of their own. The document reads them: sections, key names with
// letter case folded, and name indexes, built only where lookups come often enough to pay
// for them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ini/case_fold.h"
#include "ini/custom_ini_file.h"
#include "ini/line_store.h"
#include "ini/string_hash.h"
#include "ini/string_list.h"
#include "platform/platform.h"

namespace lw {

class TextSink;

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
  // A file that another program changed or replaced since (or made, where there was none)
  // is never replaced: EFCreateError.
  void SaveFile() override;
  // SaveFile, but false instead of the error when another program changed the file: the
  // caller may read it again and redo its work.
  bool TrySaveFile();

  // Replaces the whole content by parsing the lines.
  void LoadLines(const TStringList& lines);
  // Appends the canonical text form, one line per entry, to the target.
  void SaveLines(TStringList& target) const;

  // LoadLines of the text's lines, without building the list.
  void LoadText(std::string_view text);
  // The bytes SaveFile writes: a kept byte-order mark, then JoinLines of SaveLines.
  std::string SaveText() const;
  // The same bytes handed to `sink` piece by piece, without a copy of the whole.
  void SaveTo(TextSink& sink) const;

  // Whether the loaded file began with a UTF-8 byte-order mark (kept for saving).
  bool HasByteOrderMark() const { return byteOrderMark_; }
  // Whether construction found the file and loaded it.
  bool Loaded() const { return loaded_; }

 private:
  // The name index of one section's lines, by position in the section.
  struct LineIndex {
    std::size_t section = kNone;
    std::uint32_t lookups = 0;  // scans so far, while not built
    bool built = false;
    std::uint64_t lastUse = 0;
    TStringHash names;
  };
  // What lookups keep from one call to the next. None of it is content: forgetting any of
  // it is always correct, and only costs the next lookup time.
  struct Lookups {
    // The section of this position, among the indexes; the least recently used is reused.
    LineIndex& Of(std::size_t section);
    void Forget(std::size_t section);
    void ForgetAll();

    TStringHash sections;  // built on demand and extended as sections are appended
    std::array<LineIndex, 4> lines;
    std::uint64_t clock = 0;
    std::string key;        // the folded name looked for
    std::string candidate;  // the folded name met
  };
  // What the file is known to hold.
  enum class FileHolds { kUnknown, kLoadedText, kThisDocument };
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  using Piece = LineStore::Piece;
  using Section = LineStore::Run;

  void Clear(std::shared_ptr<const std::string> text);
  // A change to the content.
  void Changed();
  // Parses the store's text (`body`: after its byte-order mark).
  void ParseText(std::string_view body);
  // Parses one source line into the last section, or starts a section; `inText`: the line
  // lies in the store's text, and stored lines may point into it.
  void ParseLine(std::string_view line, bool inText);
  // `bytes` as a piece of the text when they lie there, else a copy.
  Piece PieceOf(std::string_view bytes, bool inText);

  // Position of the last section of that name, or -1.
  int FindSection(std::string_view name) const;
  // Position in the section of its last line of that name, or -1.
  int FindKey(std::size_t section, std::string_view key) const;
  int ScanKeys(const Section& section, std::string_view key, std::string_view folded) const;
  // The last section of that name, appended when missing.
  std::size_t SectionFor(std::string_view name);

  // Hands `sink` the canonical text (what SaveText returns) in pieces, in order.
  template <typename Sink>
  void Emit(Sink&& sink) const;
  std::size_t TextSize() const;
  bool TextEquals(std::string_view bytes) const;

  // Copies of names or lines into `target`; those in the text are borrowed.
  void Deliver(Piece piece, std::string_view bytes, TStringList& target) const;
  // Each line of `section` into `target`: its key name, or the whole line.
  void DeliverLines(std::string_view section, bool namesOnly, TStringList& target) const;

  Platform& platform_;
  CaseFold fold_;
  LineStore store_;  // a section is a run of it
  bool byteOrderMark_ = false;
  bool loaded_ = false;
  // What SaveFile must find in the file's place: the file as loaded or last saved, or
  // nothing.
  ExpectedFile expected_;
  FileHolds fileHolds_ = FileHolds::kUnknown;
  mutable Lookups lookups_;
};

}  // namespace lw
