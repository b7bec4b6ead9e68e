// The INI document in memory only: parse the bytes before the first NUL, run the changes
// and lookups the bytes after it describe, save, parse again. Checked against a small
// model of the lookup rules, and saving a parsed document must be stable.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "ini/mem_ini_file.h"
#include "ini/string_list.h"
#include "platform/ascii_case.h"
#include "tests/fake_platform.h"

namespace {

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "ini_mem_fuzz: %s\n", what);
  std::abort();
}

// Made once: a platform per input would cost more than the document.
lw::Platform& SharedPlatform() {
  static lw::FakePlatform platform;
  return platform;
}

// The fake platform's folding: ASCII letters only.
bool SameName(std::string_view a, std::string_view b) {
  return lw::EqualIgnoringAsciiCase(a, b);
}

// The model: position of the last line of `lines` whose name is `key`, or -1.
int LastNamed(const lw::TStringList& lines, std::string_view key) {
  for (int i = lines.Count() - 1; i >= 0; --i) {
    std::string_view name;
    if (lw::LineName(lines[i], name) && SameName(name, key)) return i;
  }
  return -1;
}

// Position of the last entry equal to `text` with case folded, or -1.
int LastEqual(const lw::TStringList& list, std::string_view text) {
  for (int i = list.Count() - 1; i >= 0; --i) {
    if (SameName(list[i], text)) return i;
  }
  return -1;
}

std::string_view ValueOf(std::string_view line) {
  return line.substr(line.find('=') + 1);
}

std::vector<std::string> Copy(const lw::TStringList& list) {
  return std::vector<std::string>(list.begin(), list.end());
}

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= 0x20;
}

bool HasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// A section name that saves and parses back as it is.
bool IsCanonicalSection(std::string_view name) {
  return !HasLineBreakOrNul(name) &&
         (name.empty() || (!IsBlank(name.front()) && !IsBlank(name.back())));
}

// Whether a trimmed line reads as a section header: "[" up to a last "]", or up to a
// first "]" followed by blanks and a ";" comment.
bool ReadsAsHeader(std::string_view line) {
  if (line.empty() || line.front() != '[') return false;
  if (line.back() == ']') return true;
  const std::size_t close = line.find(']');
  if (close == std::string_view::npos) return false;
  std::size_t at = close + 1;
  while (at < line.size() && IsBlank(line[at])) ++at;
  return at < line.size() && line[at] == ';';
}

// A key line that saves and parses back as it is, and stays a key line.
bool IsCanonicalKeyLine(std::string_view key, std::string_view value) {
  if (HasLineBreakOrNul(key) || HasLineBreakOrNul(value)) return false;
  if (key.find('=') != std::string_view::npos) return false;
  if (!key.empty() && (IsBlank(key.front()) || IsBlank(key.back()) || key.front() == ';')) {
    return false;
  }
  if (!value.empty() && (IsBlank(value.front()) || IsBlank(value.back()))) return false;
  return !ReadsAsHeader(std::string(key) + "=" + std::string(value));
}

// Reads the change script: an operation byte, then names and values, each a length byte
// and that many bytes, or an index into the document's own names.
class Script {
 public:
  explicit Script(std::string_view bytes) : bytes_(bytes) {}

  bool AtEnd() const { return bytes_.empty(); }

  std::uint8_t Byte() {
    if (bytes_.empty()) return 0;
    const auto byte = static_cast<std::uint8_t>(bytes_.front());
    bytes_.remove_prefix(1);
    return byte;
  }

  std::string_view Text() {
    const std::size_t size = Byte() % 24;
    const std::string_view text = bytes_.substr(0, size);
    bytes_.remove_prefix(text.size());
    return text;
  }

  // A name from the list `fill` makes half the time, so that changes meet what is there.
  template <typename Fill>
  std::string Name(lw::TStringList& names, Fill&& fill) {
    const std::uint8_t pick = Byte();
    if ((pick & 1) == 0) return std::string(Text());
    fill(names);
    return names.Count() > 0 ? std::string(names[(pick >> 1) % names.Count()]) : std::string();
  }

 private:
  std::string_view bytes_;
};

// Every lookup of `a` gives the same in `b`: section and key names in order, the value
// of each key, and the value of `key` in `section`.
void CheckSameLookups(const lw::TMemIniFile& a, const lw::TMemIniFile& b, std::string_view section,
                      std::string_view key) {
  lw::TStringList namesA, namesB, keysA, keysB;
  a.GetSectionNames(namesA);
  b.GetSectionNames(namesB);
  Check(namesA.JoinLines() == namesB.JoinLines(), "section names differ after a round trip");
  for (const std::string_view name : namesA) {
    a.GetKeyNames(name, keysA);
    b.GetKeyNames(name, keysB);
    Check(keysA.JoinLines() == keysB.JoinLines(), "key names differ after a round trip");
    for (const std::string_view k : keysA) {
      Check(a.GetValue(name, k, "\x01") == b.GetValue(name, k, "\x01"),
            "a value differs after a round trip");
    }
  }
  Check(a.GetValue(section, key, "\x01") == b.GetValue(section, key, "\x01"),
        "a lookup by input names differs after a round trip");
}

// Enough to mix changes; more only slows every input down.
constexpr int kMaxSteps = 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = bytes.find('\0');
  const std::string_view text = bytes.substr(0, nul);
  Script script(nul == std::string_view::npos ? std::string_view() : bytes.substr(nul + 1));
  lw::Platform& platform = SharedPlatform();

  lw::TMemIniFile doc(platform, "");
  doc.LoadText(text);
  bool canonical = true;  // every change so far saves as it stands
  lw::TStringList sections, lines, keys;
  std::string lastSection, lastKey;
  for (int step = 0; step < kMaxSteps && !script.AtEnd(); ++step) {
    const std::uint8_t op = script.Byte();
    const std::string section =
        script.Name(sections, [&doc](lw::TStringList& names) { doc.GetSectionNames(names); });
    const std::string key = script.Name(
        keys, [&doc, &section](lw::TStringList& names) { doc.GetKeyNames(section, names); });
    doc.GetSectionLines(section, lines);
    const int last = LastNamed(lines, key);
    const std::string found = doc.GetValue(section, key, "\x01");
    Check(last >= 0 ? found == ValueOf(lines[last]) : found == "\x01",
          "GetValue breaks the last-name rule");
    std::vector<std::string> expected = Copy(lines);
    switch (op % 3) {
      case 0: {
        const std::string value(script.Text());
        doc.SetValue(section, key, value);
        canonical = canonical && IsCanonicalSection(section) && IsCanonicalKeyLine(key, value);
        const std::string line = key + "=" + value;
        if (last >= 0) {
          expected[static_cast<std::size_t>(last)] = line;
        } else {
          expected.push_back(line);
        }
        doc.GetSectionLines(section, lines);
        Check(Copy(lines) == expected, "SetValue did not replace the last line of the name");
        if (key.find('=') == std::string::npos) {
          Check(doc.GetValue(section, key, "") == value, "SetValue then GetValue differs");
        }
        break;
      }
      case 1:
        doc.RemoveKey(section, key);
        if (last >= 0) expected.erase(expected.begin() + last);
        doc.GetSectionLines(section, lines);
        Check(Copy(lines) == expected, "RemoveKey did not take the last line of the name");
        break;
      default: {
        doc.GetSectionNames(sections);
        expected = Copy(sections);
        doc.RemoveSection(section);
        const int gone = LastEqual(sections, section);
        if (gone >= 0) expected.erase(expected.begin() + gone);
        doc.GetSectionNames(sections);
        Check(Copy(sections) == expected, "RemoveSection did not take the last of the name");
        break;
      }
    }
    lastSection = section;
    lastKey = key;
  }

  // A document changed only in ways that save as they stand comes back the same.
  const std::string saved = doc.SaveText();
  lw::TMemIniFile first(platform, "");
  first.LoadText(saved);
  const std::string firstSaved = first.SaveText();
  if (canonical) {
    Check(firstSaved == saved, "a canonical document saved other bytes after a round trip");
    CheckSameLookups(doc, first, lastSection, lastKey);
    return 0;  // parsing firstSaved would only make `first` again
  }
  // Whatever the changes, saving a parsed document is stable.
  lw::TMemIniFile second(platform, "");
  second.LoadText(firstSaved);
  Check(second.SaveText() == firstSaved, "parse(save(doc)) saves other bytes");
  return 0;
}
