#include "ini/mem_ini_file.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

#include "ini/text_file.h"
#include "ini/text_lines.h"

namespace lw {
namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// The size bit of a piece in added_, and the size that marks a free place in lines_.
constexpr std::uint32_t kAdded = 0x80000000u;
constexpr std::uint32_t kHole = 0xFFFFFFFFu;
// Sections of up to this many lines, and documents of up to this many sections, are
// scanned rather than indexed.
constexpr std::uint32_t kScannedLines = 32;
constexpr std::size_t kScannedSections = 8;
// A section's name index is built on its lookup of this number while it stays among
// the sections searched most recently.
constexpr std::uint32_t kLookupsBeforeIndex = 3;
// Files up to this size are compared byte for byte before a save replaces them.
constexpr std::size_t kComparedBytes = 1 << 20;
// Fewer unused bytes or free line places than this are never reclaimed.
constexpr std::size_t kSlack = 64 * 1024;

// The library's own raise of std::length_error: the Windows builds replace it by a smaller one.
[[noreturn]] void TooLarge() {
  std::__throw_length_error("The text is too large for a document (4 GiB, lines of 2 GiB)");
}

// Blanks and every other control byte are trimmed; bytes of 0x80 and above never are.
bool IsTrimmed(char byte) {
  return static_cast<unsigned char>(byte) <= 0x20;
}

std::string_view TrimLeft(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size() && IsTrimmed(text[start])) ++start;
  return text.substr(start);
}

std::string_view TrimRight(std::string_view text) {
  std::size_t size = text.size();
  while (size > 0 && IsTrimmed(text[size - 1])) --size;
  return text.substr(0, size);
}

std::string_view Trim(std::string_view text) {
  return TrimRight(TrimLeft(text));
}

std::string KeyLine(std::string_view key, std::string_view value) {
  std::string line;
  line.reserve(key.size() + 1 + value.size());
  line += key;
  line += '=';
  line += value;
  return line;
}

}  // namespace

TMemIniFile::TMemIniFile(Platform& platform, std::string fileName)
    : TCustomIniFile(std::move(fileName)),
      platform_(platform),
      fold_(&platform),
      text_(std::make_shared<const std::string>()) {
  std::string text;
  expected_.kind = ExpectedFile::kNothing;
  if (FileName().empty() || !ReadTextFileIfPresent(platform_, FileName(), text, &expected_.stamp)) {
    return;
  }
  text_ = std::make_shared<const std::string>(std::move(text));
  loaded_ = true;
  expected_.kind = ExpectedFile::kFile;
  // Compared again before a save replaces the file, where that is cheap.
  if (text_->size() <= kComparedBytes) expected_.bytes = text_.get();
  textIsFile_ = true;
  std::string_view body = *text_;
  // Set aside so that the first header stays a header; written back on save.
  if (body.substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark) {
    byteOrderMark_ = true;
    body.remove_prefix(kUtf8ByteOrderMark.size());
  }
  ParseText(body);
}

void TMemIniFile::Clear() {
  savedAsIs_ = false;
  // The loaded text goes; the file is still the one that was read.
  expected_.bytes = nullptr;
  sections_.clear();
  lines_.clear();
  holes_ = 0;
  added_.clear();
  addedUnused_ = 0;
  sectionIndex_.Clear();
  ForgetLineIndexes();
}

void TMemIniFile::ParseText(std::string_view body) {
  if (text_->size() > std::numeric_limits<std::uint32_t>::max()) TooLarge();
  const TextShape shape = ShapeOf(body);
  lines_.reserve(LineCountHint(shape));
  ForEachLine(shape, [this](std::string_view line) { ParseLine(line, true); });
}

void TMemIniFile::ParseLine(std::string_view line, bool inText) {
  const std::string_view text = Trim(line);
  if (text.empty() || text.front() == ';') return;
  if (text.front() == '[' && text.back() == ']') {
    const Piece name = PieceOf(Trim(text.substr(1, text.size() - 2)), inText);
    sections_.push_back({name, static_cast<std::uint32_t>(lines_.size()), 0});
    return;
  }
  if (sections_.empty()) return;
  const std::size_t equals = text.find('=');
  Piece piece;
  if (equals == std::string_view::npos) {
    piece = PieceOf(text, inText);
  } else {
    const std::string_view key = TrimRight(text.substr(0, equals));
    const std::string_view value = TrimLeft(text.substr(equals + 1));
    // Most lines have no blanks around "=" and are stored as they are.
    piece = key.size() + 1 + value.size() == text.size() ? PieceOf(text, inText)
                                                         : Keep(KeyLine(key, value));
  }
  // While parsing, the last section is the last in lines_ too.
  lines_.push_back(piece);
  ++sections_.back().count;
}

void TMemIniFile::LoadLines(const TStringList& lines) {
  Clear();
  text_ = std::make_shared<const std::string>();
  textIsFile_ = false;
  for (const std::string_view line : lines) ParseLine(line, false);
}

void TMemIniFile::LoadText(std::string_view text) {
  // Copied first: `text` may lie in text_, which the stored lines are about to leave.
  auto copy = std::make_shared<const std::string>(text);
  Clear();
  text_ = std::move(copy);
  textIsFile_ = false;
  ParseText(*text_);
}

std::string_view TMemIniFile::View(Piece piece) const {
  if ((piece.size & kAdded) != 0) return {added_.data() + piece.at, piece.size & ~kAdded};
  return {text_->data() + piece.at, piece.size};
}

bool TMemIniFile::InText(Piece piece) const {
  return (piece.size & kAdded) == 0;
}

TMemIniFile::Piece TMemIniFile::PieceOf(std::string_view bytes, bool inText) {
  if (!inText) return Keep(bytes);
  if (bytes.size() >= kAdded) TooLarge();
  return {static_cast<std::uint32_t>(bytes.data() - text_->data()),
          static_cast<std::uint32_t>(bytes.size())};
}

TMemIniFile::Piece TMemIniFile::Keep(std::string_view bytes) {
  if (bytes.size() >= kAdded - 1 ||
      added_.size() + bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
    TooLarge();
  }
  const Piece piece{static_cast<std::uint32_t>(added_.size()),
                    static_cast<std::uint32_t>(bytes.size()) | kAdded};
  added_ += bytes;
  return piece;
}

int TMemIniFile::FindSection(std::string_view name) const {
  const std::string_view folded = fold_.Folded(name, key_);
  if (sections_.size() <= kScannedSections) {
    for (std::size_t i = sections_.size(); i-- > 0;) {
      if (fold_.Matches(View(sections_[i].name), name, folded, candidate_)) {
        return static_cast<int>(i);
      }
    }
    return -1;
  }
  sectionIndex_.Reserve(sections_.size());
  for (std::size_t i = sectionIndex_.Count(); i < sections_.size(); ++i) {
    sectionIndex_.Add(fold_.Folded(View(sections_[i].name), candidate_));
  }
  return sectionIndex_.Find(folded, [&](std::int32_t i) {
    return fold_.Matches(View(sections_[static_cast<std::size_t>(i)].name), name, folded,
                         candidate_);
  });
}

int TMemIniFile::ScanKeys(const Section& section, std::string_view key,
                          std::string_view folded) const {
  const std::size_t k = key.size();
  for (std::uint32_t j = section.count; j-- > 0;) {
    const std::string_view line = View(lines_[section.first + j]);
    // The line's name is `k` bytes long when its first "=" is at k.
    if (line.size() > k && line[k] == '=' && std::memchr(line.data(), '=', k) == nullptr &&
        fold_.Matches(line.substr(0, k), key, folded, candidate_)) {
      return static_cast<int>(j);
    }
  }
  return -1;
}

int TMemIniFile::FindKey(std::size_t s, std::string_view key) const {
  const Section& section = sections_[s];
  const std::string_view folded = fold_.Folded(key, key_);
  if (section.count <= kScannedLines) return ScanKeys(section, key, folded);
  LineIndex& index = LineIndexOf(s);
  if (!index.built && ++index.lookups < kLookupsBeforeIndex) return ScanKeys(section, key, folded);
  index.built = true;
  index.names.Reserve(section.count);
  for (std::size_t j = index.names.Count(); j < section.count; ++j) {
    std::string_view name;
    if (LineName(View(lines_[section.first + j]), name)) {
      index.names.Add(fold_.Folded(name, candidate_));
    } else {
      index.names.AddNone();
    }
  }
  return index.names.Find(folded, [&](std::int32_t j) {
    std::string_view name;
    LineName(View(lines_[section.first + static_cast<std::uint32_t>(j)]), name);
    return fold_.Matches(name, key, folded, candidate_);
  });
}

TMemIniFile::LineIndex& TMemIniFile::LineIndexOf(std::size_t section) const {
  LineIndex* oldest = &lineIndexes_[0];
  for (LineIndex& index : lineIndexes_) {
    if (index.section == section) {
      index.lastUse = ++clock_;
      return index;
    }
    if (index.lastUse < oldest->lastUse) oldest = &index;
  }
  oldest->section = section;
  oldest->lookups = 0;
  oldest->built = false;
  oldest->names.Clear();
  oldest->lastUse = ++clock_;
  return *oldest;
}

void TMemIniFile::ForgetLineIndex(std::size_t section) {
  for (LineIndex& index : lineIndexes_) {
    if (index.section != section) continue;
    index.built = false;
    index.lookups = 0;
    index.names.Clear();
  }
}

void TMemIniFile::ForgetLineIndexes() {
  for (LineIndex& index : lineIndexes_) {
    index.section = kNone;
    index.built = false;
    index.lookups = 0;
    index.names.Clear();
  }
}

std::string TMemIniFile::GetValue(std::string_view section, std::string_view key,
                                  std::string_view def) const {
  const int i = FindSection(section);
  if (i < 0) return std::string(def);
  const int j = FindKey(static_cast<std::size_t>(i), key);
  if (j < 0) return std::string(def);
  const std::string_view line =
      View(lines_[sections_[static_cast<std::size_t>(i)].first + static_cast<std::uint32_t>(j)]);
  return std::string(line.substr(line.find('=') + 1));
}

void TMemIniFile::SetValue(std::string_view section, std::string_view key, std::string_view value) {
  savedAsIs_ = false;
  const std::size_t s = SectionFor(section);
  const int j = FindKey(s, key);
  const Piece line = Keep(KeyLine(key, value));
  // The replaced line's name folds as `key` does, so the section's name index still holds.
  if (j >= 0) {
    Replace(s, static_cast<std::size_t>(j), line);
  } else {
    AppendTo(s, line);
  }
}

void TMemIniFile::AppendLine(std::string_view section, std::string_view line) {
  savedAsIs_ = false;
  const std::size_t s = SectionFor(section);
  AppendTo(s, Keep(line));
}

std::size_t TMemIniFile::SectionFor(std::string_view name) {
  const int i = FindSection(name);
  if (i >= 0) return static_cast<std::size_t>(i);
  const Piece piece = Keep(name);
  sections_.push_back({piece, static_cast<std::uint32_t>(lines_.size()), 0});
  return sections_.size() - 1;
}

void TMemIniFile::AppendTo(std::size_t s, Piece line) {
  Section& section = sections_[s];
  const std::size_t end = std::size_t{section.first} + section.count;
  if (end == lines_.size()) {
    if (end >= std::numeric_limits<std::uint32_t>::max()) TooLarge();
    lines_.push_back(line);
  } else if (lines_[end].size == kHole) {
    lines_[end] = line;
    --holes_;
  } else {
    // Moved to the end, with as much room again after it, so that a section that keeps
    // growing is moved only now and then.
    const std::size_t first = lines_.size();
    if (first + 2 * std::size_t{section.count} + 1 >= std::numeric_limits<std::uint32_t>::max()) {
      TooLarge();
    }
    lines_.resize(first + 2 * std::size_t{section.count} + 1, Piece{0, kHole});
    std::copy_n(lines_.begin() + section.first, section.count, lines_.begin() + first);
    std::fill_n(lines_.begin() + section.first, section.count, Piece{0, kHole});
    lines_[first + section.count] = line;
    holes_ += 2 * std::size_t{section.count};
    section.first = static_cast<std::uint32_t>(first);
  }
  ++section.count;
  PackWhenSparse();
}

void TMemIniFile::PackWhenSparse() {
  // Packed only once the free places are twice the lines: each move leaves as much room
  // again as it takes, and packing right after a move would take that room away again.
  if (holes_ > kSlack && holes_ / 2 > lines_.size() - holes_) CompactLines();
}

void TMemIniFile::Replace(std::size_t s, std::size_t position, Piece line) {
  Piece& old = lines_[sections_[s].first + position];
  const std::size_t unused = AddedSize(old);
  old = line;
  NoteUnused(unused);
}

void TMemIniFile::Erase(std::size_t s, std::size_t position) {
  Section& section = sections_[s];
  const auto at = lines_.begin() + section.first;
  const Piece erased = at[static_cast<std::ptrdiff_t>(position)];
  std::copy(at + static_cast<std::ptrdiff_t>(position) + 1, at + section.count,
            at + static_cast<std::ptrdiff_t>(position));
  at[section.count - 1] = Piece{0, kHole};
  --section.count;
  ++holes_;
  ForgetLineIndex(s);
  NoteUnused(AddedSize(erased));
  PackWhenSparse();
}

std::size_t TMemIniFile::AddedSize(Piece piece) const {
  return InText(piece) ? 0 : piece.size & ~kAdded;
}

void TMemIniFile::NoteUnused(std::size_t bytes) {
  addedUnused_ += bytes;
  if (addedUnused_ > kSlack && addedUnused_ > added_.size() / 2) CompactAdded();
}

void TMemIniFile::CompactLines() {
  std::vector<Piece> lines;
  lines.reserve(lines_.size() - holes_);
  for (Section& section : sections_) {
    const auto first = static_cast<std::uint32_t>(lines.size());
    lines.insert(lines.end(), lines_.begin() + section.first,
                 lines_.begin() + section.first + section.count);
    section.first = first;
  }
  lines_ = std::move(lines);
  holes_ = 0;
}

void TMemIniFile::CompactAdded() {
  std::string added;
  added.reserve(added_.size() - addedUnused_);
  const auto move = [&](Piece& piece) {
    if (InText(piece)) return;
    const std::string_view bytes = View(piece);
    piece.at = static_cast<std::uint32_t>(added.size());
    added += bytes;
  };
  for (Section& section : sections_) {
    move(section.name);
    for (std::uint32_t j = 0; j < section.count; ++j) move(lines_[section.first + j]);
  }
  added_ = std::move(added);
  addedUnused_ = 0;
}

void TMemIniFile::Deliver(Piece piece, std::string_view bytes, TStringList& target) const {
  if (InText(piece)) {
    target.AddBorrowed(bytes);
  } else {
    target.Add(bytes);
  }
}

void TMemIniFile::GetKeyNames(std::string_view section, TStringList& target) const {
  DeliverLines(section, /*namesOnly=*/true, target);
}

void TMemIniFile::DeliverLines(std::string_view section, bool namesOnly,
                               TStringList& target) const {
  target.Clear();
  const int i = FindSection(section);
  if (i < 0) return;
  target.KeepAlive(text_);
  const Section& s = sections_[static_cast<std::size_t>(i)];
  target.Reserve(s.count);
  for (std::uint32_t j = 0; j < s.count; ++j) {
    const Piece piece = lines_[s.first + j];
    std::string_view name;
    if (namesOnly) LineName(View(piece), name);  // a line without "=" gives an empty name
    Deliver(piece, namesOnly ? name : View(piece), target);
  }
}

void TMemIniFile::GetSectionNames(TStringList& target) const {
  target.Clear();
  target.KeepAlive(text_);
  target.Reserve(sections_.size());
  for (const Section& section : sections_) Deliver(section.name, View(section.name), target);
}

void TMemIniFile::GetSectionLines(std::string_view section, TStringList& target) const {
  DeliverLines(section, /*namesOnly=*/false, target);
}

void TMemIniFile::RemoveSection(std::string_view section) {
  const int i = FindSection(section);
  if (i < 0) return;
  savedAsIs_ = false;
  const Section removed = sections_[static_cast<std::size_t>(i)];
  std::size_t unused = AddedSize(removed.name);
  for (std::uint32_t j = 0; j < removed.count; ++j) {
    Piece& line = lines_[removed.first + j];
    unused += AddedSize(line);
    line = Piece{0, kHole};
  }
  holes_ += removed.count;
  sections_.erase(sections_.begin() + i);
  // Later sections moved down by one.
  sectionIndex_.Clear();
  ForgetLineIndexes();
  NoteUnused(unused);
  PackWhenSparse();
}

void TMemIniFile::RemoveKey(std::string_view section, std::string_view key) {
  const int i = FindSection(section);
  if (i < 0) return;
  const int j = FindKey(static_cast<std::size_t>(i), key);
  if (j < 0) return;
  savedAsIs_ = false;
  Erase(static_cast<std::size_t>(i), static_cast<std::size_t>(j));
}

void TMemIniFile::SaveLines(TStringList& target) const {
  target.KeepAlive(text_);
  std::string header;
  for (const Section& section : sections_) {
    const std::string_view name = View(section.name);
    header.assign(1, '[');
    header += name;
    header += ']';
    target.Add(header);
    for (std::uint32_t j = 0; j < section.count; ++j) {
      const Piece piece = lines_[section.first + j];
      Deliver(piece, View(piece), target);
    }
    target.Add(std::string_view());
  }
}

template <typename Sink>
void TMemIniFile::Emit(Sink&& sink) const {
  if (byteOrderMark_) sink(kUtf8ByteOrderMark);
  const std::string& loaded = *text_;
  for (const Section& section : sections_) {
    sink("[");
    sink(View(section.name));
    sink("]\r\n");
    const Piece* line = lines_.data() + section.first;
    const Piece* const end = line + section.count;
    while (line != end) {
      if (!InText(*line)) {
        sink(View(*line++));
        sink("\r\n");
        continue;
      }
      // Lines that follow each other in the loaded text, CR LF between them, go in one
      // piece.
      const std::size_t from = line->at;
      std::size_t to = from + line->size;
      for (++line; line != end && InText(*line) && line->at == to + 2 && loaded[to] == '\r' &&
                   loaded[to + 1] == '\n';
           ++line) {
        to = std::size_t{line->at} + line->size;
      }
      sink(std::string_view(loaded).substr(from, to - from));
      sink("\r\n");
    }
    sink("\r\n");
  }
}

std::size_t TMemIniFile::TextSize() const {
  std::size_t size = byteOrderMark_ ? kUtf8ByteOrderMark.size() : 0;
  for (const Section& section : sections_) {
    size += View(section.name).size() + 6;  // "[" "]" CR LF, then CR LF
    for (std::uint32_t j = 0; j < section.count; ++j) {
      size += (lines_[section.first + j].size & ~kAdded) + 2;
    }
  }
  return size;
}

bool TMemIniFile::TextEquals(std::string_view bytes) const {
  if (TextSize() != bytes.size()) return false;
  std::size_t at = 0;
  bool equal = true;
  Emit([&](std::string_view piece) {
    equal = equal && bytes.compare(at, piece.size(), piece) == 0;
    at += piece.size();
  });
  return equal;
}

std::string TMemIniFile::SaveText() const {
  std::string text;
  text.reserve(TextSize());
  Emit([&text](std::string_view piece) { text += piece; });
  return text;
}

void TMemIniFile::SaveTo(TextSink& sink) const {
  Emit([&sink](std::string_view piece) { sink.Append(piece); });
}

void TMemIniFile::SaveFile() {
  if (!TrySaveFile()) RaiseCreateError(platform_, FileName(), kErrorFileChanged);
}

bool TMemIniFile::TrySaveFile() {
  if (savedAsIs_ || (textIsFile_ && TextEquals(*text_))) return true;
  const std::optional<FileStamp> placed =
      WriteTextFile(platform_, FileName(), expected_, [this](TextSink& sink) { SaveTo(sink); });
  if (!placed) return false;
  expected_ = {ExpectedFile::kFile, *placed, nullptr};
  savedAsIs_ = true;
  textIsFile_ = false;
  return true;
}

}  // namespace lw
