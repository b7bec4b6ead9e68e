#include "ini/mem_ini_file.h"

#include <cstring>
#include <optional>
#include <utility>

#include "ini/text_file.h"
#include "ini/text_lines.h"

namespace lw {
namespace {

// Sections of up to this many lines, and documents of up to this many sections, are
// scanned rather than indexed.
constexpr std::uint32_t kScannedLines = 32;
constexpr std::size_t kScannedSections = 8;
// A section's name index is built on its lookup of this number while it stays among
// the sections searched most recently.
constexpr std::uint32_t kLookupsBeforeIndex = 3;
// Files up to this size are compared byte for byte before a save replaces them.
constexpr std::size_t kComparedBytes = 1 << 20;

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

// The name of a header line: "[name]", or "[name]" followed by blanks and a ";" comment, as
// Windows reads it. A line that ends in "]" is read whole, so names holding "]" keep their
// reading.
bool HeaderName(std::string_view text, std::string_view& name) {
  if (text.front() != '[') return false;
  std::size_t close = text.size() - 1;
  if (text.back() != ']') {
    close = text.find(']');
    if (close == std::string_view::npos) return false;
    if (TrimLeft(text.substr(close + 1)).substr(0, 1) != ";") return false;
  }
  name = Trim(text.substr(1, close - 1));
  return true;
}

}  // namespace

TMemIniFile::TMemIniFile(Platform& platform, std::string fileName)
    : TCustomIniFile(std::move(fileName)), platform_(platform), fold_(&platform) {
  std::string text;
  expected_.kind = ExpectedFile::kNothing;
  if (FileName().empty() || !ReadTextFileIfPresent(platform_, FileName(), text, &expected_.stamp)) {
    return;
  }
  Clear(std::make_shared<const std::string>(std::move(text)));
  loaded_ = true;
  fileHolds_ = FileHolds::kLoadedText;
  expected_.kind = ExpectedFile::kFile;
  // Compared again before a save replaces the file, where that is cheap.
  if (store_.Text()->size() <= kComparedBytes) expected_.bytes = store_.Text().get();
  std::string_view body = *store_.Text();
  // Set aside so that the first header stays a header; written back on save.
  if (body.substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark) {
    byteOrderMark_ = true;
    body.remove_prefix(kUtf8ByteOrderMark.size());
  }
  ParseText(body);
}

void TMemIniFile::Clear(std::shared_ptr<const std::string> text) {
  fileHolds_ = FileHolds::kUnknown;
  // The loaded text goes; the file is still the one that was read.
  expected_.bytes = nullptr;
  lookups_.ForgetAll();
  store_.Reset(std::move(text));
}

void TMemIniFile::Changed() {
  if (fileHolds_ == FileHolds::kThisDocument) fileHolds_ = FileHolds::kUnknown;
}

void TMemIniFile::ParseText(std::string_view body) {
  const TextShape shape = ShapeOf(body);
  store_.ReserveLines(LineCountHint(shape));
  ForEachLine(shape, [this](std::string_view line) { ParseLine(line, true); });
}

void TMemIniFile::ParseLine(std::string_view line, bool inText) {
  const std::string_view text = Trim(line);
  if (text.empty() || text.front() == ';') return;
  std::string_view name;
  if (HeaderName(text, name)) {
    store_.AppendRun(PieceOf(name, inText));
    return;
  }
  if (store_.RunCount() == 0) return;
  const std::size_t equals = text.find('=');
  Piece piece;
  if (equals == std::string_view::npos) {
    piece = PieceOf(text, inText);
  } else {
    const std::string_view key = TrimRight(text.substr(0, equals));
    const std::string_view value = TrimLeft(text.substr(equals + 1));
    // Most lines have no blanks around "=" and are stored as they are.
    piece = key.size() + 1 + value.size() == text.size() ? PieceOf(text, inText)
                                                         : store_.Add(KeyLine(key, value));
  }
  store_.AppendLine(store_.RunCount() - 1, piece);
}

TMemIniFile::Piece TMemIniFile::PieceOf(std::string_view bytes, bool inText) {
  return inText ? store_.OfText(bytes) : store_.Add(bytes);
}

void TMemIniFile::LoadLines(const TStringList& lines) {
  Clear(std::make_shared<const std::string>());
  for (const std::string_view line : lines) ParseLine(line, false);
}

void TMemIniFile::LoadText(std::string_view text) {
  // Copied first: `text` may lie in the store's text, which Clear lets go.
  Clear(std::make_shared<const std::string>(text));
  ParseText(*store_.Text());
}

int TMemIniFile::FindSection(std::string_view name) const {
  Lookups& l = lookups_;
  const std::string_view folded = fold_.Folded(name, l.key);
  const std::size_t count = store_.RunCount();
  const auto nameOf = [this](std::size_t i) { return store_.View(store_.RunAt(i).name); };
  if (count <= kScannedSections) {
    for (std::size_t i = count; i-- > 0;) {
      if (fold_.Matches(nameOf(i), name, folded, l.candidate)) return static_cast<int>(i);
    }
    return -1;
  }
  l.sections.Reserve(count);
  for (std::size_t i = l.sections.Count(); i < count; ++i) {
    l.sections.Add(fold_.Folded(nameOf(i), l.candidate));
  }
  return l.sections.Find(folded, [&](std::int32_t i) {
    return fold_.Matches(nameOf(static_cast<std::size_t>(i)), name, folded, l.candidate);
  });
}

int TMemIniFile::ScanKeys(const Section& section, std::string_view key,
                          std::string_view folded) const {
  const std::size_t k = key.size();
  for (std::uint32_t j = section.count; j-- > 0;) {
    const std::string_view line = store_.View(store_.LineOf(section, j));
    // The line's name is `k` bytes long when its first "=" is at k.
    if (line.size() > k && line[k] == '=' && std::memchr(line.data(), '=', k) == nullptr &&
        fold_.Matches(line.substr(0, k), key, folded, lookups_.candidate)) {
      return static_cast<int>(j);
    }
  }
  return -1;
}

int TMemIniFile::FindKey(std::size_t s, std::string_view key) const {
  Lookups& l = lookups_;
  const Section& section = store_.RunAt(s);
  const std::string_view folded = fold_.Folded(key, l.key);
  if (section.count <= kScannedLines) return ScanKeys(section, key, folded);
  LineIndex& index = l.Of(s);
  if (!index.built && ++index.lookups < kLookupsBeforeIndex) return ScanKeys(section, key, folded);
  index.built = true;
  index.names.Reserve(section.count);
  for (std::size_t j = index.names.Count(); j < section.count; ++j) {
    std::string_view name;
    if (LineName(store_.View(store_.LineOf(section, static_cast<std::uint32_t>(j))), name)) {
      index.names.Add(fold_.Folded(name, l.candidate));
    } else {
      index.names.AddNone();
    }
  }
  return index.names.Find(folded, [&](std::int32_t j) {
    std::string_view name;
    LineName(store_.View(store_.LineOf(section, static_cast<std::uint32_t>(j))), name);
    return fold_.Matches(name, key, folded, l.candidate);
  });
}

TMemIniFile::LineIndex& TMemIniFile::Lookups::Of(std::size_t section) {
  LineIndex* oldest = &lines[0];
  for (LineIndex& index : lines) {
    if (index.section == section) {
      index.lastUse = ++clock;
      return index;
    }
    if (index.lastUse < oldest->lastUse) oldest = &index;
  }
  oldest->section = section;
  oldest->lookups = 0;
  oldest->built = false;
  oldest->names.Clear();
  oldest->lastUse = ++clock;
  return *oldest;
}

void TMemIniFile::Lookups::Forget(std::size_t section) {
  for (LineIndex& index : lines) {
    if (index.section != section) continue;
    index.built = false;
    index.lookups = 0;
    index.names.Clear();
  }
}

void TMemIniFile::Lookups::ForgetAll() {
  sections.Clear();
  for (LineIndex& index : lines) {
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
  const std::string_view line = store_.View(
      store_.LineOf(store_.RunAt(static_cast<std::size_t>(i)), static_cast<std::uint32_t>(j)));
  return std::string(line.substr(line.find('=') + 1));
}

void TMemIniFile::SetValue(std::string_view section, std::string_view key, std::string_view value) {
  Changed();
  const std::size_t s = SectionFor(section);
  const int j = FindKey(s, key);
  const Piece line = store_.Add(KeyLine(key, value));
  // The replaced line's name folds as `key` does, so the section's name index still holds.
  if (j >= 0) {
    store_.ReplaceLine(s, static_cast<std::uint32_t>(j), line);
  } else {
    store_.AppendLine(s, line);
  }
}

void TMemIniFile::AppendLine(std::string_view section, std::string_view line) {
  Changed();
  const std::size_t s = SectionFor(section);
  store_.AppendLine(s, store_.Add(line));
}

std::size_t TMemIniFile::SectionFor(std::string_view name) {
  const int i = FindSection(name);
  if (i >= 0) return static_cast<std::size_t>(i);
  store_.AppendRun(store_.Add(name));
  return store_.RunCount() - 1;
}

void TMemIniFile::Deliver(Piece piece, std::string_view bytes, TStringList& target) const {
  if (LineStore::InText(piece)) {
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
  target.KeepAlive(store_.Text());
  const Section& s = store_.RunAt(static_cast<std::size_t>(i));
  target.Reserve(s.count);
  for (std::uint32_t j = 0; j < s.count; ++j) {
    const Piece piece = store_.LineOf(s, j);
    std::string_view name;
    if (namesOnly) LineName(store_.View(piece), name);  // a line without "=" gives an empty name
    Deliver(piece, namesOnly ? name : store_.View(piece), target);
  }
}

void TMemIniFile::GetSectionNames(TStringList& target) const {
  target.Clear();
  target.KeepAlive(store_.Text());
  target.Reserve(store_.RunCount());
  for (std::size_t i = 0; i < store_.RunCount(); ++i) {
    const Piece name = store_.RunAt(i).name;
    Deliver(name, store_.View(name), target);
  }
}

void TMemIniFile::GetSectionLines(std::string_view section, TStringList& target) const {
  DeliverLines(section, /*namesOnly=*/false, target);
}

void TMemIniFile::RemoveSection(std::string_view section) {
  const int i = FindSection(section);
  if (i < 0) return;
  Changed();
  store_.EraseRun(static_cast<std::size_t>(i));
  // Later sections moved up by one.
  lookups_.ForgetAll();
}

void TMemIniFile::RemoveKey(std::string_view section, std::string_view key) {
  const int i = FindSection(section);
  if (i < 0) return;
  const int j = FindKey(static_cast<std::size_t>(i), key);
  if (j < 0) return;
  Changed();
  store_.EraseLine(static_cast<std::size_t>(i), static_cast<std::uint32_t>(j));
  lookups_.Forget(static_cast<std::size_t>(i));
}

void TMemIniFile::SaveLines(TStringList& target) const {
  target.KeepAlive(store_.Text());
  std::string header;
  for (std::size_t i = 0; i < store_.RunCount(); ++i) {
    const Section& section = store_.RunAt(i);
    header.assign(1, '[');
    header += store_.View(section.name);
    header += ']';
    target.Add(header);
    for (std::uint32_t j = 0; j < section.count; ++j) {
      const Piece piece = store_.LineOf(section, j);
      Deliver(piece, store_.View(piece), target);
    }
    target.Add(std::string_view());
  }
}

template <typename Sink>
void TMemIniFile::Emit(Sink&& sink) const {
  if (byteOrderMark_) sink(kUtf8ByteOrderMark);
  for (std::size_t i = 0; i < store_.RunCount(); ++i) {
    const Section& section = store_.RunAt(i);
    sink("[");
    sink(store_.View(section.name));
    sink("]\r\n");
    store_.EmitLines(section, sink);
    sink("\r\n");
  }
}

std::size_t TMemIniFile::TextSize() const {
  std::size_t size = byteOrderMark_ ? kUtf8ByteOrderMark.size() : 0;
  for (std::size_t i = 0; i < store_.RunCount(); ++i) {
    const Section& section = store_.RunAt(i);
    size += store_.View(section.name).size() + 6;  // "[" "]" CR LF, then CR LF
    size += store_.LinesSize(section);
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
  if (fileHolds_ == FileHolds::kThisDocument) return true;
  if (fileHolds_ == FileHolds::kLoadedText && TextEquals(*store_.Text())) return true;
  const std::optional<FileStamp> placed =
      WriteTextFile(platform_, FileName(), expected_, [this](TextSink& sink) { SaveTo(sink); });
  if (!placed) return false;
  expected_ = {ExpectedFile::kFile, *placed, nullptr};
  fileHolds_ = FileHolds::kThisDocument;
  return true;
}

}  // namespace lw
