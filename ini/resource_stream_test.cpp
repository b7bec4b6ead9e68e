#include "ini/resource_stream.h"

#include <gtest/gtest.h>

#include <string>

#include "ini/mem_ini_file.h"
#include "ini/stream_errors.h"
#include "ini/string_list.h"
#include "tests/fake_platform.h"

namespace lw {
namespace {

using namespace std::string_literals;

TEST(ResourceStreamTest, TemplateTextEndsAtItsFirstNul) {
  FakePlatform platform;
  platform.AddResource("IniData", 10, "[config]\r\nmansecs=a|b\r\n\0[lost]\r\nk=v\r\n"s);
  TResourceStream stream(platform, "inidata", 10);
  TStringList lines;
  lines.LoadFromStream(stream);
  TMemIniFile doc(platform, "");
  doc.LoadLines(lines);
  EXPECT_EQ(doc.SaveText(), "[config]\r\nmansecs=a|b\r\n\r\n");
  EXPECT_EQ(stream.Position(), stream.Size());
}

TEST(ResourceStreamTest, ReadsFromThePositionOn) {
  FakePlatform platform;
  platform.AddResource("IniData", 10, "skip\r\nkeep\r\n");
  TResourceStream stream(platform, "IniData", 10);
  stream.Seek(6);
  TStringList lines;
  lines.LoadFromStream(stream);
  ASSERT_EQ(lines.Count(), 1);
  EXPECT_EQ(lines[0], "keep");
  char byte = 0;
  EXPECT_EQ(stream.Read(&byte, 1), 0u);
}

TEST(ResourceStreamTest, MissingResourceAndWritesAreRefused) {
  FakePlatform platform;
  platform.AddResource("IniData", 10, "x");
  try {
    TResourceStream stream(platform, "IniDatum", 10);
    FAIL() << "no error";
  } catch (const EResNotFound& error) {
    EXPECT_EQ(error.Message(), "Resource IniDatum not found");
    EXPECT_STREQ(error.ClassName(), "EResNotFound");
  }
  EXPECT_THROW(TResourceStream(platform, "IniData", 6), EResNotFound);
  TResourceStream stream(platform, "IniData", 10);
  try {
    stream.Write("y");
    FAIL() << "no error";
  } catch (const EStreamError& error) {
    EXPECT_EQ(error.Message(), "Can't write to a read-only resource stream");
  }
}

}  // namespace
}  // namespace lw
