#include "ini/mem_ini_file.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/ascii_case.h"
#include "tests/fake_platform.h"

namespace lw {
namespace {

using namespace std::string_literals;
using Lines = std::vector<std::string>;

Lines Items(const TStringList& list) {
  return Lines(list.begin(), list.end());
}

class MemIniFileTest : public ::testing::Test {
 protected:
  TMemIniFile& Parse(std::string_view text) {
    doc_.LoadText(text);
    return doc_;
  }
  Lines KeyNames(std::string_view section) {
    doc_.GetKeyNames(section, list_);
    return Items(list_);
  }
  Lines SectionLines(std::string_view section) {
    doc_.GetSectionLines(section, list_);
    return Items(list_);
  }

  FakePlatform platform_;
  TMemIniFile doc_{platform_, ""};
  TStringList list_;
};

TEST_F(MemIniFileTest, WorkedExample) {
  const std::string path = "C:\\Pbk\\rasphone.pbk";
  platform_.AddFile(path,
                    ";settings\r\norphan=1\r\n[Entry A]\r\n  Device  =  modem  \r\nPort=COM1\r\n"
                    "\r\n[Entry B]\r\nx=1\r\n[entry a]\r\nPort=COM2\r\n");
  TMemIniFile doc(platform_, path);
  doc.GetSectionNames(list_);
  EXPECT_EQ(Items(list_), (Lines{"Entry A", "Entry B", "entry a"}));
  EXPECT_EQ(doc.GetValue("ENTRY A", "port", "-"), "COM2");
  doc.GetKeyNames("Entry A", list_);
  EXPECT_EQ(Items(list_), (Lines{"Port"}));
  doc.SetValue("Entry A", "DEVICE", "isdn");
  doc.SaveFile();
  EXPECT_EQ(platform_.files[path],
            "[Entry A]\r\nDevice=modem\r\nPort=COM1\r\n\r\n[Entry B]\r\nx=1\r\n\r\n"
            "[entry a]\r\nPort=COM2\r\nDEVICE=isdn\r\n\r\n");
}

TEST_F(MemIniFileTest, ParsesToCanonicalText) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"[S]\r\n\t k \x01= v\x1f \r\n", "[S]\r\nk=v\r\n\r\n"},
      {"[S]\r\n\xa0k=v\xa0\r\n", "[S]\r\n\xa0k=v\xa0\r\n\r\n"},
      {"[S]\r\n;c\r\n  ;c2\r\n#x\r\na;b\r\n", "[S]\r\n#x\r\na;b\r\n\r\n"},
      {"[ Name ]\r\nk=v", "[Name]\r\nk=v\r\n\r\n"},
      {"[]\r\nk=v", "[]\r\nk=v\r\n\r\n"},
      {"[S]\r\n[Name] ;note\r\n[\r\n", "[S]\r\n\r\n[Name]\r\n[\r\n\r\n"},
      // A header followed by a comment, as Windows reads it; any other text after "]"
      // leaves the line as it was, and so does a last "]".
      {"[Office VPN] ; main office\r\nk=1", "[Office VPN]\r\nk=1\r\n\r\n"},
      {"[Home ISP]\r\nk=0\r\n[Office VPN] ; main office\r\nk=1",
       "[Home ISP]\r\nk=0\r\n\r\n[Office VPN]\r\nk=1\r\n\r\n"},
      {"[x];c\r\nk=v\r\n [ y ]\t;c\r\nk=w", "[x]\r\nk=v\r\n\r\n[y]\r\nk=w\r\n\r\n"},
      {"[a]b]\r\nk=v\r\n[x] ;c]\r\nk=w", "[a]b]\r\nk=v\r\n\r\n[x] ;c]\r\nk=w\r\n\r\n"},
      {"[x] junk\r\nk=v\r\n[S]\r\n[x] junk\r\n[x] = ;c", "[S]\r\n[x] junk\r\n[x]=;c\r\n\r\n"},
      {"k=v\r\nplain\r\n[S]", "[S]\r\n\r\n"},
      {"[S]\r\na = b = c\r\n=x\r\nflag", "[S]\r\na=b = c\r\n=x\r\nflag\r\n\r\n"},
      {"[S]\ra=1\nb=2\r\nc=3", "[S]\r\na=1\r\nb=2\r\nc=3\r\n\r\n"},
      {"[S]\n\ra=1\r\r\nb=2\n\n", "[S]\r\na=1\r\nb=2\r\n\r\n"},
      {"[S]\r\na=1\r\nb\0=2\r\n[T]\r\n"s, "[S]\r\na=1\r\nb\r\n\r\n"},
      {";only\r\n\r\n  \r\n", ""},
      {"[A]\r\nk=1\r\n[a]\r\nk=2", "[A]\r\nk=1\r\n\r\n[a]\r\nk=2\r\n\r\n"},
      {"\xef\xbb\xbf[S]\r\nk=v", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Parse(c.in).SaveText(), c.out) << c.in;
    TStringList lines;
    lines.SplitText(c.in);
    doc_.LoadLines(lines);
    EXPECT_EQ(doc_.SaveText(), c.out) << "through LoadLines: " << c.in;
  }
}

TEST_F(MemIniFileTest, LookupsFindTheLastNameAndNeverTrim) {
  Parse("[S]\r\na=b=c\r\n=x\r\nflag\r\nk=1\r\nK=2\r\nempty=\r\n[T]\r\nv= padded \r\n[s]\r\nz=9");
  const struct {
    std::string section, key, value;
  } cases[] = {
      {"T", "a", "-"},  {"s", "a", "-"},  {"S", "z", "9"},    {"t", "V", "padded"},
      {" T", "v", "-"}, {"T", " v", "-"}, {"none", "v", "-"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(doc_.GetValue(c.section, c.key, "-"), c.value) << c.section << "/" << c.key;
  }
  EXPECT_EQ(KeyNames("s"), (Lines{"z"}));
  doc_.RemoveSection("S");  // the later "s" goes, the first "S" is found again
  EXPECT_EQ(KeyNames("S"), (Lines{"a", "", "", "k", "K", "empty"}));
  const struct {
    std::string key, value;
  } keys[] = {{"a", "b=c"}, {"", "x"}, {"flag", "-"}, {"k", "2"}, {"EMPTY", ""}};
  for (const auto& k : keys) EXPECT_EQ(doc_.GetValue("S", k.key, "-"), k.value) << k.key;
  EXPECT_EQ(KeyNames("none"), Lines{});
}

TEST_F(MemIniFileTest, SetValueReplacesTheLastLineInPlaceWithTheCallsLetters) {
  Parse("[S]\r\nk=1\r\nK=2\r\nz=0\r\n[T]\r\nKey=x");
  doc_.SetValue("s", "k", "3");
  doc_.SetValue("T", "KEY", "v");
  doc_.SetValue("T", " pad ", " v ");
  EXPECT_EQ(SectionLines("S"), (Lines{"k=1", "k=3", "z=0"}));
  EXPECT_EQ(KeyNames("S"), (Lines{"k", "k", "z"}));
  EXPECT_EQ(SectionLines("T"), (Lines{"KEY=v", " pad = v "}));
  EXPECT_EQ(doc_.GetValue("T", " pad ", "-"), " v ");
}

TEST_F(MemIniFileTest, SetValueAppendsMissingSectionsUntrimmed) {
  Parse("[A]\r\nk=1\r\n[B]\r\nk=2");
  doc_.SetValue(" New ", "k", "a\r\nb=c");
  doc_.SetValue("B", "j", "3");
  EXPECT_EQ(doc_.GetValue("New", "k", "-"), "-");
  EXPECT_EQ(doc_.GetValue("B", "k", "-"), "2");
  const std::string saved = doc_.SaveText();
  EXPECT_EQ(saved, "[A]\r\nk=1\r\n\r\n[B]\r\nk=2\r\nj=3\r\n\r\n[ New ]\r\nk=a\r\nb=c\r\n\r\n");
  Parse(saved);
  EXPECT_EQ(SectionLines("New"), (Lines{"k=a", "b=c"}));
}

TEST_F(MemIniFileTest, AppendLineKeepsEqualNames) {
  Parse("[A]\r\nk=1\r\n[a]\r\nk=2");
  doc_.AppendLine("A", "K=3");
  doc_.AppendLine("New", "k=4");
  doc_.AppendLine("New", "flag");
  EXPECT_EQ(doc_.SaveText(),
            "[A]\r\nk=1\r\n\r\n[a]\r\nk=2\r\nK=3\r\n\r\n[New]\r\nk=4\r\nflag\r\n\r\n");
  EXPECT_EQ(doc_.GetValue("a", "k", "-"), "3");
}

TEST_F(MemIniFileTest, RemovesTheLastMatchOnly) {
  Parse("[A]\r\nk=1\r\n[B]\r\nk=2\r\n[a]\r\nk=3\r\nK=4\r\n[C]\r\nk=5");
  doc_.RemoveKey("A", "k");
  doc_.RemoveKey("A", "none");
  doc_.RemoveKey("none", "k");
  EXPECT_EQ(SectionLines("a"), (Lines{"k=3"}));
  doc_.RemoveSection("A");
  doc_.RemoveSection("none");
  EXPECT_EQ(doc_.SaveText(), "[A]\r\nk=1\r\n\r\n[B]\r\nk=2\r\n\r\n[C]\r\nk=5\r\n\r\n");
  EXPECT_EQ(doc_.GetValue("C", "k", "-"), "5");
}

TEST_F(MemIniFileTest, SaveLinesAppendsTheCanonicalForm) {
  Parse("[A]\r\nk = 1\r\nflag\r\n[B]");
  TStringList target;
  target.Add("kept");
  doc_.SaveLines(target);
  EXPECT_EQ(Items(target), (Lines{"kept", "[A]", "k=1", "flag", "", "[B]", ""}));
  EXPECT_EQ("kept\r\n" + doc_.SaveText(), target.JoinLines());
  Parse("");
  doc_.SaveLines(target);
  EXPECT_EQ(target.Count(), 7);
}

TEST_F(MemIniFileTest, KeepsItsOwnCopyOfTheText) {
  {
    std::string text = "[A]\r\nk=1\r\nflag\r\n[B]\r\nx = 2\r\n";
    Parse(text);
    text.assign(text.size(), '#');
  }
  EXPECT_EQ(doc_.GetValue("a", "K", "-"), "1");
  EXPECT_EQ(SectionLines("A"), (Lines{"k=1", "flag"}));
  doc_.SetValue("A", "k", "changed");
  doc_.SetValue("B", "y", "3");
  EXPECT_EQ(doc_.SaveText(), "[A]\r\nk=changed\r\nflag\r\n\r\n[B]\r\nx=2\r\ny=3\r\n\r\n");
  // Parsing again, from lines or from the document's own saved text, replaces everything.
  TStringList lines;
  lines.SplitText("[C]\r\nz=9\r\n");
  doc_.LoadLines(lines);
  lines.Clear();
  EXPECT_EQ(doc_.SaveText(), "[C]\r\nz=9\r\n\r\n");
  Parse(doc_.SaveText() + "[D]\r\nw=0\r\n");
  EXPECT_EQ(doc_.GetValue("C", "z", "-"), "9");
  EXPECT_EQ(doc_.GetValue("D", "w", "-"), "0");
}

TEST_F(MemIniFileTest, ListsFilledFromTheDocumentOutliveItsChangesAndItself) {
  auto doc = std::make_unique<TMemIniFile>(platform_, "");
  doc->LoadText("[A]\r\nk = 1\r\nflag\r\n[B]\r\nx=2\r\n");
  doc->SetValue("B", "y", "3");
  TStringList names;
  TStringList keys;
  TStringList lines;
  doc->GetSectionNames(names);
  doc->GetKeyNames("B", keys);
  doc->GetSectionLines("A", lines);
  // Changed lines are copied afresh many times over, then the text is replaced and the
  // document goes: the lists keep what they were given.
  for (int i = 0; i < 3000; ++i)
    doc->SetValue("B", "y", std::string(100, static_cast<char>('a' + i % 26)));
  doc->RemoveSection("A");
  doc->LoadText("[C]\r\nz=9\r\n");
  doc.reset();
  EXPECT_EQ(Items(names), (Lines{"A", "B"}));
  EXPECT_EQ(Items(keys), (Lines{"x", "y"}));
  EXPECT_EQ(Items(lines), (Lines{"k=1", "flag"}));
  // Cleared, a list lets go of the text; refilled, it holds the new one.
  names.Clear();
  TMemIniFile again(platform_, "");
  again.LoadText("[D]\r\n");
  again.GetSectionNames(names);
  EXPECT_EQ(Items(names), (Lines{"D"}));
}

// The document as a plain list of sections, looked up by linear search from the end.
class PlainModel {
 public:
  void Load(const std::vector<std::pair<std::string, Lines>>& sections) { sections_ = sections; }
  std::string GetValue(const std::string& section, const std::string& key) const {
    const int s = FindSection(section);
    if (s < 0) return "-";
    const Lines& lines = sections_[static_cast<std::size_t>(s)].second;
    const int j = FindKey(lines, key);
    return j < 0 ? "-" : lines[static_cast<std::size_t>(j)].substr(key.size() + 1);
  }
  void SetValue(const std::string& section, const std::string& key, const std::string& value) {
    Lines& lines = SectionFor(section);
    const int j = FindKey(lines, key);
    if (j < 0) {
      lines.push_back(key + "=" + value);
    } else {
      lines[static_cast<std::size_t>(j)] = key + "=" + value;
    }
  }
  void AppendLine(const std::string& section, const std::string& line) {
    SectionFor(section).push_back(line);
  }
  void RemoveKey(const std::string& section, const std::string& key) {
    const int s = FindSection(section);
    if (s < 0) return;
    Lines& lines = sections_[static_cast<std::size_t>(s)].second;
    const int j = FindKey(lines, key);
    if (j >= 0) lines.erase(lines.begin() + j);
  }
  void RemoveSection(const std::string& section) {
    const int s = FindSection(section);
    if (s >= 0) sections_.erase(sections_.begin() + s);
  }
  std::string Saved() const {
    std::string text;
    for (const auto& [name, lines] : sections_) {
      text += "[" + name + "]\r\n";
      for (const std::string& line : lines) text += line + "\r\n";
      text += "\r\n";
    }
    return text;
  }

 private:
  int FindSection(const std::string& name) const {
    for (int s = static_cast<int>(sections_.size()) - 1; s >= 0; --s) {
      if (EqualIgnoringAsciiCase(sections_[static_cast<std::size_t>(s)].first, name)) return s;
    }
    return -1;
  }
  static int FindKey(const Lines& lines, const std::string& key) {
    for (int j = static_cast<int>(lines.size()) - 1; j >= 0; --j) {
      const std::string& line = lines[static_cast<std::size_t>(j)];
      const std::size_t equals = line.find('=');
      if (equals != std::string::npos && EqualIgnoringAsciiCase(line.substr(0, equals), key)) {
        return j;
      }
    }
    return -1;
  }
  Lines& SectionFor(const std::string& name) {
    const int s = FindSection(name);
    if (s >= 0) return sections_[static_cast<std::size_t>(s)].second;
    return sections_.emplace_back(name, Lines{}).second;
  }

  std::vector<std::pair<std::string, Lines>> sections_;
};

// Random changes and lookups, many in a row on the same few sections as the provisioning
// pass makes them, so that name indexes are built, followed, dropped and rebuilt, sections
// grow where they stand or move, and the document's own bytes are copied afresh.
TEST_F(MemIniFileTest, MatchesAPlainModelThroughManyChanges) {
  std::mt19937 random(20240611);
  const auto pick = [&random](int count) {
    return static_cast<int>(random() % static_cast<unsigned>(count));
  };
  const auto sectionName = [&](int i) {
    return (pick(2) != 0 ? "Sec " : "SEC ") + std::to_string(i);
  };
  const auto keyName = [&](int i) { return (pick(2) != 0 ? "key" : "KEY") + std::to_string(i); };

  std::vector<std::pair<std::string, Lines>> sections;
  std::string text;
  for (int s = 0; s < 14; ++s) {
    const std::string name = sectionName(s % 11);  // a few names twice
    Lines lines;
    const int count = s % 3 == 0 ? 4 : 40 + pick(80);
    for (int j = 0; j < count; ++j) {
      lines.push_back(pick(9) == 0 ? "flag" + std::to_string(j)
                                   : keyName(pick(50)) + "=" + std::to_string(j));
    }
    text += "[" + name + "]\r\n";
    for (const std::string& line : lines) text += line + "\r\n";
    sections.emplace_back(name, lines);
  }
  PlainModel model;
  model.Load(sections);
  Parse(text);
  ASSERT_EQ(doc_.SaveText(), model.Saved());

  int section = 0;
  for (int step = 0; step < 60000; ++step) {
    if (pick(8) == 0) section = pick(13);  // mostly stays on one section for a while
    const std::string name = sectionName(section);
    const std::string key = keyName(pick(50));
    switch (pick(10)) {
      case 0:
      case 1: {
        const std::string value =
            std::string(static_cast<std::size_t>(pick(40)), 'v') + std::to_string(step);
        doc_.SetValue(name, key, value);
        model.SetValue(name, key, value);
        break;
      }
      case 2:
        doc_.AppendLine(name, key + "=a" + std::to_string(step));
        model.AppendLine(name, key + "=a" + std::to_string(step));
        break;
      case 3:
        doc_.RemoveKey(name, key);
        model.RemoveKey(name, key);
        break;
      case 4:
        if (pick(50) == 0) {
          doc_.RemoveSection(name);
          model.RemoveSection(name);
        }
        break;
      default:
        ASSERT_EQ(doc_.GetValue(name, key, "-"), model.GetValue(name, key))
            << "step " << step << " [" << name << "] " << key;
    }
    if (step % 5000 == 0) {
      ASSERT_EQ(doc_.SaveText(), model.Saved()) << "step " << step;
    }
  }
  EXPECT_EQ(doc_.SaveText(), model.Saved());
  // Sections growing in turns keep moving to the end, until the free places they leave
  // are packed away.
  for (int step = 0; step < 120000; ++step) {
    const std::string name = sectionName(step % 3);
    const std::string line = keyName(step % 7) + "=" + std::to_string(step);
    doc_.AppendLine(name, line);
    model.AppendLine(name, line);
  }
  EXPECT_EQ(doc_.GetValue("sec 1", "key4", "-"), model.GetValue("sec 1", "key4"));
  EXPECT_EQ(doc_.SaveText(), model.Saved());
  for (const char* gone : {"sec 0", "sec 2"}) {
    doc_.RemoveSection(gone);
    model.RemoveSection(gone);
  }
  doc_.SetValue("sec 1", "key4", "last");
  model.SetValue("sec 1", "key4", "last");
  EXPECT_EQ(doc_.GetValue("sec 1", "key4", "-"), "last");
  EXPECT_EQ(doc_.SaveText(), model.Saved());
}

}  // namespace
}  // namespace lw
