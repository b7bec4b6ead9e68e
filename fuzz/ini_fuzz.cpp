// Arbitrary bytes through splitting, parsing and saving: nothing may crash, and a saved
// document parses back to a document that saves to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ini/mem_ini_file.h"
#include "ini/stream_errors.h"
#include "ini/string_list.h"
#include "tests/fake_platform.h"

namespace {

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "ini_fuzz: %s\n", what);
  std::abort();
}

bool SameLines(const lw::TStringList& a, const lw::TStringList& b) {
  if (a.Count() != b.Count()) return false;
  for (int i = 0; i < a.Count(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  lw::FakePlatform platform;

  lw::TStringList lines;
  lines.SplitText(bytes);
  lw::TStringList again;
  again.SplitText(lines.JoinLines());
  Check(SameLines(lines, again), "split(join(split(x))) differs from split(x)");

  lw::TMemIniFile doc(platform, "");
  doc.LoadText(bytes);
  const std::string saved = doc.SaveText();
  lw::TMemIniFile viaLines(platform, "");
  viaLines.LoadLines(lines);
  Check(viaLines.SaveText() == saved, "LoadLines and LoadText disagree");

  lw::TMemIniFile reparsed(platform, "");
  reparsed.LoadText(saved);
  Check(reparsed.SaveText() == saved, "parse(save(doc)) saves other bytes");

  // Every name the document reports can be looked up, twice (the second time through the
  // indexes where they are built), and finds the last line of that name, as a plain
  // search of the section's lines does.
  lw::TStringList sections;
  lw::TStringList keys;
  lw::TStringList sectionLines;
  doc.GetSectionNames(sections);
  for (const std::string_view section : sections) {
    doc.GetKeyNames(section, keys);
    doc.GetSectionLines(section, sectionLines);
    for (int round = 0; round < 4; ++round) {
      for (const std::string_view key : keys) {
        const int last = sectionLines.FindName(key);
        const std::string value = doc.GetValue(section, key, "\x01");
        if (last < 0) {
          Check(value == "\x01", "a lookup found a key no line has");
        } else {
          const std::string_view line = sectionLines[last];
          Check(value == line.substr(line.find('=') + 1), "a lookup found another line");
        }
      }
    }
  }

  const std::string path = "C:\\Pbk\\rasphone.pbk";
  platform.AddFile(path, std::string(bytes));
  try {
    lw::TMemIniFile file(platform, path);
    file.SaveFile();
    Check(platform.files.size() == 1, "a temporary file stayed behind");
    Check(platform.files[path] == file.SaveText(), "SaveFile wrote other bytes than SaveText");
    Check(bytes.find('\0') == std::string_view::npos, "a NUL byte was loaded");
  } catch (const lw::EFOpenError&) {
    Check(bytes.find('\0') != std::string_view::npos, "a file without NUL was refused");
    Check(platform.files[path] == bytes, "a refused file was changed");
  }
  Check(platform.OpenFileCount() == 0, "a file handle was left open");
  return 0;
}
