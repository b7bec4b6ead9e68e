// Real phonebooks written by Windows, stored with LF breaks.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "ini/mem_ini_file.h"
#include "ini/string_list.h"
#include "tests/fake_platform.h"

namespace lw {
namespace {

std::string ReadSample(const std::string& name) {
  std::ifstream in(std::string(LW_SOURCE_DIR) + "/tests/data/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The sample as the document must write it: blank lines dropped, CR LF breaks, one empty
// line after each entry. The samples hold no comments and no blanks around "=".
std::string Canonical(const std::string& sample) {
  std::string text;
  std::size_t start = 0;
  bool first = true;
  while (start < sample.size()) {
    const std::size_t end = sample.find('\n', start);
    const std::string line = sample.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    if (line.front() == '[' && !first) text += "\r\n";
    first = false;
    text += line + "\r\n";
  }
  return text + "\r\n";
}

std::string WithCrLf(const std::string& text) {
  std::string out;
  for (const char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

class PbkRoundTripTest : public ::testing::TestWithParam<const char*> {};

TEST_P(PbkRoundTripTest, SavesEveryKeyInOrderInCanonicalForm) {
  const std::string sample = ReadSample(GetParam());
  ASSERT_GT(sample.size(), 1000u);
  const std::string expected = Canonical(sample);
  for (const std::string& bytes : {sample, WithCrLf(sample)}) {
    FakePlatform platform;
    const std::string path = "C:\\Pbk\\rasphone.pbk";
    platform.AddFile(path, bytes);
    TMemIniFile doc(platform, path);
    doc.SaveFile();
    EXPECT_EQ(platform.files[path], expected);
    TMemIniFile again(platform, path);
    EXPECT_EQ(again.SaveText(), expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Samples, PbkRoundTripTest,
                         ::testing::Values("six-vpn-entries.pbk", "broadband-utf8-name.pbk"));

TEST(PbkLookupTest, EntriesAnswerWithTheirLastLines) {
  FakePlatform platform;
  TMemIniFile doc(platform, "");
  doc.LoadText(ReadSample("six-vpn-entries.pbk"));
  TStringList names;
  doc.GetSectionNames(names);
  ASSERT_EQ(names.Count(), 6);
  EXPECT_EQ(names[3], "vpn.kurej.si-GW");
  for (const std::string_view entry : names) {
    TStringList keys;
    doc.GetKeyNames(entry, keys);
    EXPECT_EQ(keys.Count(), 140) << entry;
    // Device= of the media group and the later DEVICE= fold alike; the later one answers.
    EXPECT_EQ(doc.GetValue(entry, "device", "-"), "vpn") << entry;
  }
  EXPECT_EQ(doc.GetValue("MARBO.PIN.SI", "phonenumber", "-"), "marbo.pin.si");
}

}  // namespace
}  // namespace lw
