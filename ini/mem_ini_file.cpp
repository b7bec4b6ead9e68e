#include "ini/mem_ini_file.h"

#include <utility>

#include "ini/text_file.h"
#include "ini/text_lines.h"

namespace lw {
namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

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
    : TCustomIniFile(std::move(fileName)), platform_(platform), sections_(platform) {
  if (FileName().empty() || !ReadTextFileIfPresent(platform_, FileName(), text_)) return;
  loaded_ = true;
  textIsFile_ = true;
  std::string_view body = text_;
  // Set aside so that the first header stays a header; written back on save.
  if (body.substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark) {
    byteOrderMark_ = true;
    body.remove_prefix(kUtf8ByteOrderMark.size());
  }
  ParseText(body);
}

void TMemIniFile::Clear() {
  sections_.Clear();
  lines_.clear();
}

void TMemIniFile::ParseText(std::string_view body) {
  int current = -1;
  ForEachLine(body, [this, &current](std::string_view line) { ParseLine(line, current, true); });
}

void TMemIniFile::ParseLine(std::string_view line, int& current, bool borrow) {
  const std::string_view text = Trim(line);
  if (text.empty() || text.front() == ';') return;
  if (text.front() == '[' && text.back() == ']') {
    sections_.Add(Trim(text.substr(1, text.size() - 2)));
    // Entries of one file tend to be alike; room for as many lines as the last one had
    // never totals more than the lines already read.
    const int expected = lines_.empty() ? 0 : lines_.back().Count();
    lines_.emplace_back(platform_).Reserve(static_cast<std::size_t>(expected));
    current = sections_.Count() - 1;
    return;
  }
  if (current < 0) return;
  THashedStringList& lines = lines_[static_cast<std::size_t>(current)];
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) {
    borrow ? lines.AddBorrowed(text) : lines.Add(text);
    return;
  }
  const std::string_view key = TrimRight(text.substr(0, equals));
  const std::string_view value = TrimLeft(text.substr(equals + 1));
  // Most lines have no blanks around "=" and are stored as they are.
  if (key.size() + 1 + value.size() == text.size()) {
    borrow ? lines.AddBorrowed(text) : lines.Add(text);
  } else {
    lines.Add(KeyLine(key, value));
  }
}

void TMemIniFile::LoadLines(const TStringList& lines) {
  Clear();
  text_.clear();
  textIsFile_ = false;
  int current = -1;
  for (const std::string_view line : lines) ParseLine(line, current, false);
}

void TMemIniFile::LoadText(std::string_view text) {
  // Copied first: `text` may lie in text_, which the stored lines are about to leave.
  std::string copy(text);
  Clear();
  text_ = std::move(copy);
  textIsFile_ = false;
  ParseText(text_);
}

std::string TMemIniFile::GetValue(std::string_view section, std::string_view key,
                                  std::string_view def) const {
  const int i = sections_.FindLine(section);
  if (i < 0) return std::string(def);
  const THashedStringList& lines = lines_[static_cast<std::size_t>(i)];
  const int j = lines.FindName(key);
  if (j < 0) return std::string(def);
  const std::string_view line = lines[j];
  return std::string(line.substr(line.find('=') + 1));
}

void TMemIniFile::SetValue(std::string_view section, std::string_view key, std::string_view value) {
  const std::string line = KeyLine(key, value);
  THashedStringList& lines = SectionFor(section);
  const int j = lines.FindName(key);
  if (j >= 0) {
    lines.Put(j, line);
  } else {
    lines.Add(line);
  }
}

void TMemIniFile::AppendLine(std::string_view section, std::string_view line) {
  SectionFor(section).Add(line);
}

THashedStringList& TMemIniFile::SectionFor(std::string_view section) {
  const int i = sections_.FindLine(section);
  if (i >= 0) return lines_[static_cast<std::size_t>(i)];
  sections_.Add(section);
  return lines_.emplace_back(platform_);
}

void TMemIniFile::GetKeyNames(std::string_view section, TStringList& target) const {
  target.Clear();
  const int i = sections_.FindLine(section);
  if (i < 0) return;
  for (const std::string_view line : lines_[static_cast<std::size_t>(i)]) {
    std::string_view name;
    target.Add(LineName(line, name) ? name : std::string_view());
  }
}

void TMemIniFile::GetSectionNames(TStringList& target) const {
  target.Clear();
  for (const std::string_view name : sections_) target.Add(name);
}

void TMemIniFile::GetSectionLines(std::string_view section, TStringList& target) const {
  target.Clear();
  const int i = sections_.FindLine(section);
  if (i < 0) return;
  for (const std::string_view line : lines_[static_cast<std::size_t>(i)]) target.Add(line);
}

void TMemIniFile::RemoveSection(std::string_view section) {
  const int i = sections_.FindLine(section);
  if (i < 0) return;
  sections_.Delete(i);
  lines_.erase(lines_.begin() + i);
}

void TMemIniFile::RemoveKey(std::string_view section, std::string_view key) {
  const int i = sections_.FindLine(section);
  if (i < 0) return;
  THashedStringList& lines = lines_[static_cast<std::size_t>(i)];
  const int j = lines.FindName(key);
  if (j >= 0) lines.Delete(j);
}

void TMemIniFile::SaveLines(TStringList& target) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const std::string_view name = sections_[static_cast<int>(i)];
    std::string header;
    header.reserve(name.size() + 2);
    header += '[';
    header += name;
    header += ']';
    target.Add(header);
    for (const std::string_view line : lines_[i]) target.Add(line);
    target.Add(std::string_view());
  }
}

std::string TMemIniFile::SaveText() const {
  std::size_t size = byteOrderMark_ ? kUtf8ByteOrderMark.size() : 0;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    size += sections_[static_cast<int>(i)].size() + 6;  // "[" "]" CR LF, then CR LF
    for (const std::string_view line : lines_[i]) size += line.size() + 2;
  }
  std::string text;
  text.reserve(size);
  if (byteOrderMark_) text += kUtf8ByteOrderMark;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    text += '[';
    text += sections_[static_cast<int>(i)];
    text += "]\r\n";
    for (const std::string_view line : lines_[i]) {
      text += line;
      text += "\r\n";
    }
    text += "\r\n";
  }
  return text;
}

void TMemIniFile::SaveFile() {
  std::string text = SaveText();
  if (written_ ? *written_ == text : textIsFile_ && text_ == text) return;
  WriteTextFile(platform_, FileName(), text);
  written_ = std::move(text);
}

}  // namespace lw
