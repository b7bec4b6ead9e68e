#include "ini/mem_ini_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
      {"[S]\r\n[Name] ;note\r\n[\r\n", "[S]\r\n[Name] ;note\r\n[\r\n\r\n"},
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

}  // namespace
}  // namespace lw
