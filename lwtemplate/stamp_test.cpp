#include "lwtemplate/stamp.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "lwtemplate/file_bytes.h"
#include "lwtemplate/pe_image.h"
#include "lwtemplate/test_image.h"
#include "platform/system_platform.h"

namespace lw {
namespace {

using testing::HasSubstr;

// The stamped image differs from `original` only inside [from, to) and in the checksum,
// which is right for the new bytes.
void ExpectOnlyChanged(const std::string& original, const std::string& stamped, std::size_t from,
                       std::size_t to) {
  ASSERT_EQ(stamped.size(), original.size());
  const PeImage image(stamped);
  const std::size_t field = image.CheckSumOffset();
  for (std::size_t i = 0; i < original.size(); ++i) {
    if ((i >= from && i < to) || (i >= field && i < field + 4)) continue;
    ASSERT_EQ(stamped[i], original[i]) << "byte " << i;
  }
  EXPECT_EQ(image.StoredCheckSum(), PeCheckSum(stamped, field));
}

// The reason EStampRefused gives for stamping `templ` into `exe`.
std::string StampRefusal(const std::string& exe, const std::string& templ) {
  return RefusalOf<EStampRefused>([&] { StampTemplate(exe, templ); });
}

class StampTest : public testing::TestWithParam<bool> {
 protected:
  TestImage Built(std::uint32_t capacity = 256) const {
    TestImageShape shape;
    shape.is64Bit = GetParam();
    shape.capacity = capacity;
    return BuildTestImage(shape);
  }
};

TEST_P(StampTest, WritesTheTemplateAndNulBytesInTheRoomOnly) {
  const TestImage built = Built();
  const std::string templ = "[config]\r\ncresecs=\r\n; a new one\r\n";
  const std::string stamped = StampTemplate(built.bytes, templ);
  ExpectOnlyChanged(built.bytes, stamped, built.iniData, built.iniData + 256);
  EXPECT_EQ(stamped.substr(built.iniData, 256), templ + std::string(256 - templ.size(), '\0'));
  const TemplateRoom room = FindTemplateRoom(stamped);
  EXPECT_EQ(room.offset, built.iniData);
  EXPECT_EQ(room.capacity, 256u);
  EXPECT_EQ(room.is64Bit, GetParam());
}

TEST_P(StampTest, ALongerTemplateLeavesNoTraceOfTheShorterOne) {
  const TestImage built = Built();
  const std::string once = StampTemplate(built.bytes, std::string(200, 'a'));
  const std::string twice = StampTemplate(once, std::string(10, 'b'));
  EXPECT_EQ(twice, StampTemplate(built.bytes, std::string(10, 'b')));
  EXPECT_EQ(StampTemplate(twice, "[config]\r\n"), StampTemplate(built.bytes, "[config]\r\n"));
}

TEST_P(StampTest, TheRoomIsTheLimit) {
  const TestImage built = Built(64);
  EXPECT_EQ(StampTemplate(built.bytes, std::string(64, 'x')).substr(built.iniData, 64),
            std::string(64, 'x'));
  EXPECT_THAT(StampRefusal(built.bytes, std::string(65, 'x')),
              HasSubstr("has room for a template of 64 bytes, not 65;"));
}

TEST_P(StampTest, RefusesWhatItCannotStamp) {
  const struct {
    const char* name;
    TestImageShape shape;
    std::string templ;
    const char* refusal;
  } cases[] = {
      {"NulInTemplate", {}, std::string("[config]\0x", 10), "a template holding a NUL byte"},
      {"Signed",
       [] {
         TestImageShape s;
         s.signature = true;
         return s;
       }(),
       "[config]\r\n",
       "carries a signature, which a new template would break: stamp the unsigned executable, "
       "then sign the result"},
      {"NoIniData",
       [] {
         TestImageShape s;
         s.iniDataName = "INIDATX";
         return s;
       }(),
       "x", "has no IniData resource: not a vpnsetup.exe built by this project"},
  };
  for (const auto& c : cases) {
    TestImageShape shape = c.shape;
    shape.is64Bit = GetParam();
    EXPECT_THAT(StampRefusal(BuildTestImage(shape).bytes, c.templ), HasSubstr(c.refusal)) << c.name;
  }
}

TEST_P(StampTest, RefusesTwoIniDataResources) {
  TestImage built = Built();
  std::string& bytes = built.bytes;
  // The version type becomes a second RCDATA type whose resource is named IniData too.
  PutU32(bytes, built.rcDataTypeEntry + 8, 10);
  const std::size_t versionNames =
      built.tree + (GetU32(bytes, built.rcDataTypeEntry + 12) & 0x7FFFFFFF);
  PutU16(bytes, versionNames + 12, 1);
  PutU16(bytes, versionNames + 14, 0);
  PutU32(bytes, versionNames + 16, GetU32(bytes, built.iniDataNameEntry));
  EXPECT_EQ(StampRefusal(bytes, "x"),
            "has 2 IniData resources (one a language each); expected one");
}

TEST_P(StampTest, RefusesIniDataBytesInsideTheHeaders) {
  TestImage built = Built();
  // The code section's file bytes start at 0, so its first RVAs are header bytes.
  PutU32(built.bytes, built.sectionTable + 8, 0x200);
  PutU32(built.bytes, built.sectionTable + 20, 0);
  PutU32(built.bytes, built.iniDataEntry, 0x1000 + 0x20);
  PutU32(built.bytes, built.iniDataEntry + 4, 16);
  EXPECT_EQ(StampRefusal(built.bytes, "x"), "has its IniData bytes inside its headers");
}

TEST_P(StampTest, RefusesRoomThatOverlapsTheResourceTree) {
  TestImage built = Built();
  // IniData's bytes are made the tree's first bytes: its root directory.
  PutU32(built.bytes, built.iniDataEntry, built.treeRva);
  PutU32(built.bytes, built.iniDataEntry + 4, 32);
  EXPECT_EQ(FindTemplateRoom(built.bytes).offset, built.tree);
  EXPECT_EQ(StampRefusal(built.bytes, std::string(32, 'x')),
            "has IniData bytes that overlap its resource directory");
}

TEST_P(StampTest, BadBytesAreInvalidImages) {
  const TestImage built = Built();
  EXPECT_THROW(StampTemplate(built.bytes.substr(0, built.bytes.size() - 1), "x"), EInvalidImage);
  EXPECT_THROW(StampTemplate("MZ not at all", "x"), EInvalidImage);
}

INSTANTIATE_TEST_SUITE_P(Builds, StampTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "X64" : "X86");
                         });

// On a Windows build: the test executable itself, which carries vpnsetup.exe's resources.
TEST(OwnExecutableStampTest, KeepsEveryOtherResourceByteForByte) {
  const std::string path = CreateSystemPlatform(0, nullptr)->ExecutablePath();
  if (path.size() < 2 || path[1] != ':') GTEST_SKIP() << "not a Windows build: " << path;
  const std::string original = ReadFileBytes(path, std::uint64_t{1} << 30);
  const TemplateRoom room = FindTemplateRoom(original);
  EXPECT_EQ(room.capacity, std::size_t{LW_TEMPLATE_CAPACITY});
  const std::string templ = "[config]\r\nmansecs=\r\ncresecs=\r\n";
  const std::string stamped = StampTemplate(original, templ);
  ExpectOnlyChanged(original, stamped, room.offset, room.offset + room.capacity);

  const PeImage before(original);
  const PeImage after(stamped);
  ASSERT_EQ(before.Resources().size(), after.Resources().size());
  for (std::size_t i = 0; i < before.Resources().size(); ++i) {
    const PeResource& a = before.Resources()[i];
    const PeResource& b = after.Resources()[i];
    EXPECT_EQ(a.type + "/" + a.name, b.type + "/" + b.name);
    if (a.type == "#10") continue;
    EXPECT_EQ(original.substr(a.dataOffset, a.size), stamped.substr(b.dataOffset, b.size))
        << a.type << "/" << a.name;
  }
  // The shipped template stamped back gives the very bytes the build wrote.
  EXPECT_EQ(StampTemplate(stamped, ReadFileBytes(LW_TEMPLATE_FILE, 1 << 20)), original);
}

}  // namespace
}  // namespace lw
