#include "lwtemplate/pe_image.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "lwtemplate/file_bytes.h"
#include "lwtemplate/test_image.h"
#include "platform/system_platform.h"

namespace lw {
namespace {

using testing::HasSubstr;

// The reason EInvalidImage gives for `bytes`.
std::string Refusal(const std::string& bytes) {
  return RefusalOf<EInvalidImage>([&] { PeImage image(bytes); });
}

class TestImageTest : public testing::TestWithParam<bool> {};

TEST_P(TestImageTest, ReadsHeadersAndEveryResource) {
  TestImageShape shape;
  shape.is64Bit = GetParam();
  const TestImage built = BuildTestImage(shape);
  const PeImage image(built.bytes);
  EXPECT_EQ(image.Machine(), shape.is64Bit ? PeImage::kMachineX64 : PeImage::kMachineX86);
  EXPECT_EQ(image.Is64Bit(), shape.is64Bit);
  EXPECT_EQ(image.CheckSumOffset(), built.checkSumField);
  EXPECT_EQ(image.HeadersEnd(), built.sectionTable + 3 * 40);
  EXPECT_FALSE(image.IsSigned());
  const std::vector<PeResource>& resources = image.Resources();
  ASSERT_EQ(resources.size(), 3u);
  const struct {
    const char* type;
    const char* name;
    std::size_t offset;
    std::size_t size;
  } expected[] = {{"#10", "INIDATA", built.iniData, shape.capacity},
                  {"#16", "#1", built.version, shape.version.size()},
                  {"#24", "#1", built.manifest, shape.manifest.size()}};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(resources[i].type, expected[i].type);
    EXPECT_EQ(resources[i].name, expected[i].name);
    EXPECT_EQ(resources[i].language, 1033);
    EXPECT_EQ(resources[i].dataOffset, expected[i].offset);
    EXPECT_EQ(resources[i].size, expected[i].size);
  }
  EXPECT_EQ(resources[0].entryOffset, built.iniDataEntry);
  EXPECT_EQ(built.bytes.substr(resources[2].dataOffset, resources[2].size), shape.manifest);
}

TEST_P(TestImageTest, FindsIniDataInAnyLetterCaseAndNothingElse) {
  TestImageShape shape;
  shape.is64Bit = GetParam();
  const TestImage built = BuildTestImage(shape);
  const PeImage image(built.bytes);
  for (const char* name : {"IniData", "INIDATA", "inidata"}) {
    ASSERT_EQ(image.Find("#10", name).size(), 1u) << name;
    EXPECT_EQ(image.Find("#10", name).front().dataOffset, built.iniData);
  }
  EXPECT_TRUE(image.Find("#10", "IniDat").empty());
  EXPECT_TRUE(image.Find("#10", "IniDataX").empty());
  EXPECT_TRUE(image.Find("#6", "IniData").empty());
  EXPECT_EQ(image.Find("#24", "#1").size(), 1u);
}

TEST_P(TestImageTest, NoticesASignature) {
  TestImageShape shape;
  shape.is64Bit = GetParam();
  shape.signature = true;
  EXPECT_TRUE(PeImage(BuildTestImage(shape).bytes).IsSigned());
}

// Every cut of the file is refused: the last section's bytes reach its end.
TEST_P(TestImageTest, EveryTruncationIsRefused) {
  TestImageShape shape;
  shape.is64Bit = GetParam();
  const std::string bytes = BuildTestImage(shape).bytes;
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    SCOPED_TRACE(size);
    EXPECT_NE(Refusal(bytes.substr(0, size)), "");
  }
}

// Changed bytes anywhere in the headers and the tree never make the reader fail in any
// other way than a refusal (the sanitizer build watches every read).
TEST_P(TestImageTest, DamagedBytesAreReadOrRefusedNeverMore) {
  TestImageShape shape;
  shape.is64Bit = GetParam();
  const TestImage built = BuildTestImage(shape);
  std::mt19937 random(20190611);
  const std::uint8_t values[] = {0x00, 0x01, 0x7F, 0x80, 0xFF};
  int refused = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string bytes = built.bytes;
    const std::size_t span = round % 2 == 0 ? built.sectionTable + 120 : built.tree + 0x100;
    const std::size_t base = round % 2 == 0 ? 0 : built.tree;
    for (int change = 0; change < 1 + round % 3; ++change) {
      const std::size_t at = base + random() % (span - base);
      bytes[at] = static_cast<char>(values[random() % 5]);
    }
    try {
      PeImage image(bytes);
      for (const PeResource& resource : image.Resources()) {
        ASSERT_LE(resource.dataOffset + resource.size, bytes.size());
      }
    } catch (const EInvalidImage&) {
      ++refused;
    }
  }
  EXPECT_GT(refused, 0);
}

INSTANTIATE_TEST_SUITE_P(Builds, TestImageTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "X64" : "X86");
                         });

struct DamageCase {
  const char* name;
  std::function<void(std::string&, const TestImage&)> damage;
  const char* refusal;
  friend void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }
};

class DamagedImageTest : public testing::TestWithParam<DamageCase> {};

TEST_P(DamagedImageTest, IsRefusedWithItsReason) {
  for (const bool is64Bit : {false, true}) {
    TestImageShape shape;
    shape.is64Bit = is64Bit;
    const TestImage built = BuildTestImage(shape);
    std::string bytes = built.bytes;
    GetParam().damage(bytes, built);
    EXPECT_THAT(Refusal(bytes), HasSubstr(GetParam().refusal)) << (is64Bit ? "x64" : "x86");
  }
}

constexpr std::uint32_t kSubdirectory = 0x80000000u;

// File offset of the PE header, and of the file header's fields.
std::size_t Pe(const std::string& bytes) {
  return GetU32(bytes, 0x3C);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedImageTest,
    testing::Values(
        DamageCase{"Empty", [](std::string& b, const TestImage&) { b.clear(); }, "no MZ header"},
        DamageCase{"WrongMzMagic", [](std::string& b, const TestImage&) { b[1] = 'X'; },
                   "no MZ header"},
        DamageCase{"WrongPeMagic", [](std::string& b, const TestImage&) { b[Pe(b) + 1] = 'F'; },
                   "no PE signature at offset 0x80"},
        DamageCase{"PeHeaderPastTheEnd",
                   [](std::string& b, const TestImage&) { PutU32(b, 0x3C, 0xFFFFFFF0u); },
                   "the PE header (offset 0xFFFFFFF0, 24 bytes) runs past the end of the file"},
        DamageCase{"OtherMachine",
                   [](std::string& b, const TestImage&) { PutU16(b, Pe(b) + 4, 0x01C0); },
                   "machine 0x1C0 is neither x86 nor x64"},
        DamageCase{"Dll", [](std::string& b, const TestImage&) { PutU16(b, Pe(b) + 22, 0x2102); },
                   "not an executable program"},
        DamageCase{"ObjectFile",
                   [](std::string& b, const TestImage&) { PutU16(b, Pe(b) + 22, 0x0100); },
                   "not an executable program"},
        DamageCase{"MagicOfTheOtherBuild",
                   [](std::string& b, const TestImage&) {
                     PutU16(b, Pe(b) + 24, b[Pe(b) + 4] == '\x4C' ? 0x20B : 0x10B);
                   },
                   "does not match machine"},
        DamageCase{"OptionalHeaderTooShort",
                   [](std::string& b, const TestImage&) { PutU16(b, Pe(b) + 20, 64); },
                   "the optional header is 64 bytes, too short"},
        DamageCase{"OptionalHeaderPastTheEnd",
                   [](std::string& b, const TestImage&) { PutU16(b, Pe(b) + 20, 0xFFFF); },
                   "the optional header (offset 0x98, 65535 bytes) runs past the end"},
        DamageCase{"HugeDirectoryCount",
                   [](std::string& b, const TestImage& i) {
                     PutU32(b, i.numberOfRvaAndSizes, 0xFFFFFFFFu);
                   },
                   "4294967295 data directories run past the optional header"},
        DamageCase{"NoSections", [](std::string& b, const TestImage&) { PutU16(b, Pe(b) + 6, 0); },
                   "0 sections"},
        DamageCase{"TooManySections",
                   [](std::string& b, const TestImage&) { PutU16(b, Pe(b) + 6, 0xFFFF); },
                   "65535 sections"},
        DamageCase{"SectionPastTheEnd",
                   [](std::string& b, const TestImage& i) {
                     PutU32(b, i.sectionTable + 80 + 20, 0xFFFFFF00u);
                   },
                   "section 3 (.reloc) (offset 0xFFFFFF00, 512 bytes) runs past the end"},
        DamageCase{"SectionSizeOverflows",
                   [](std::string& b, const TestImage& i) {
                     PutU32(b, i.sectionTable + 40 + 16, 0xFFFFFFFFu);
                   },
                   "section 2 (.rsrc)"},
        DamageCase{
            "ResourceDirectoryOutsideTheSections",
            [](std::string& b, const TestImage& i) { PutU32(b, i.resourceDirectory, 0x00900000u); },
            "the resource directory (RVA 0x900000"},
        DamageCase{"ResourceDirectoryLongerThanItsSection",
                   [](std::string& b, const TestImage& i) {
                     PutU32(b, i.resourceDirectory + 4, i.treeSize + 1);
                   },
                   "lies outside the file bytes of the sections"},
        DamageCase{"ResourceDirectorySizeOverflows",
                   [](std::string& b, const TestImage& i) {
                     PutU32(b, i.resourceDirectory, i.treeRva + 8);
                     PutU32(b, i.resourceDirectory + 4, 0xFFFFFFFCu);
                   },
                   "lies outside the file bytes of the sections"},
        DamageCase{"HugeEntryCount",
                   [](std::string& b, const TestImage& i) {
                     PutU16(b, i.tree + 12, 0xFFFF);
                     PutU16(b, i.tree + 14, 0xFFFF);
                   },
                   "the 131070 entries of the resource directory at 0x0"},
        DamageCase{"TypeEntryPointsAtItsOwnDirectory",
                   [](std::string& b, const TestImage& i) {
                     PutU32(b, i.rcDataTypeEntry + 4, kSubdirectory);
                   },
                   "the resource directory at offset 0x0 of the tree is reached twice"},
        DamageCase{"NameEntryPointsAtTheRoot",
                   [](std::string& b, const TestImage& i) {
                     PutU32(b, i.iniDataNameEntry + 4, kSubdirectory);
                   },
                   "reached twice: the tree loops"},
        DamageCase{"TwoTypesShareADirectory",
                   [](std::string& b, const TestImage& i) {
                     PutU32(b, i.rcDataTypeEntry + 12, GetU32(b, i.rcDataTypeEntry + 4));
                   },
                   "reached twice"},
        DamageCase{"LanguageEntryPointsAtADirectory",
                   [](std::string& b, const TestImage& i) {
                     PutU32(b, i.iniDataLanguageEntry + 4, kSubdirectory);
                   },
                   "resource #10/INIDATA/#1033 goes deeper than type, name, language"},
        DamageCase{"TypeEntryIsALeaf",
                   [](std::string& b, const TestImage& i) {
                     PutU32(b, i.rcDataTypeEntry + 4, GetU32(b, i.iniDataLanguageEntry + 4));
                   },
                   "resource #10 ends early"},
        DamageCase{"DirectoryPastTheTree",
                   [](std::string& b, const TestImage& i) {
                     PutU32(b, i.rcDataTypeEntry + 4, kSubdirectory | 0x7FFFFFF0u);
                   },
                   "a resource directory (offset 0x7FFFFFF0, 16 bytes) runs past the end of the "
                   "resource directory"},
        DamageCase{"DataEntryPastTheTree",
                   [](std::string& b, const TestImage& i) {
                     PutU32(b, i.iniDataLanguageEntry + 4, 0x7FFFFFF8u);
                   },
                   "the data entry of resource #10/INIDATA/#1033"},
        DamageCase{"DataOutsideTheSections",
                   [](std::string& b, const TestImage& i) { PutU32(b, i.iniDataEntry, 0x10); },
                   "the bytes of resource #10/INIDATA/#1033 (RVA 0x10"},
        DamageCase{
            "DataSizeOverflows",
            [](std::string& b, const TestImage& i) { PutU32(b, i.iniDataEntry + 4, 0xFFFFFFFFu); },
            "4294967295 bytes) lie outside the file bytes of the sections"},
        DamageCase{"DataBeyondTheLoadedPart",
                   [](std::string& b, const TestImage& i) {
                     PutU32(b, i.iniDataEntry, i.treeRva + i.treeSize);
                     PutU32(b, i.iniDataEntry + 4, 4);
                   },
                   "lie outside the file bytes of the sections"},
        DamageCase{"NameOfHugeLength",
                   [](std::string& b, const TestImage& i) {
                     PutU16(b, i.tree + (GetU32(b, i.iniDataNameEntry) & 0x7FFFFFFF), 0xFFFF);
                   },
                   "a resource name of 65535 characters"},
        DamageCase{"NamePastTheTree",
                   [](std::string& b, const TestImage& i) {
                     PutU32(b, i.iniDataNameEntry, kSubdirectory | 0x7FFFFFFEu);
                   },
                   "a resource name (offset 0x7FFFFFFE, 2 bytes) runs past the end"},
        DamageCase{
            "IdAbove65535",
            [](std::string& b, const TestImage& i) { PutU32(b, i.rcDataTypeEntry, 0x10010); },
            "a resource id above 65535 (0x10010)"},
        DamageCase{"LanguageWithAName",
                   [](std::string& b,
                      const TestImage&
                          i) { PutU32(b, i.iniDataLanguageEntry, GetU32(b, i.iniDataNameEntry)); },
                   "has a language named by a string"}),
    [](const testing::TestParamInfo<DamageCase>& info) { return std::string(info.param.name); });

// More resources than any executable has are refused before they cost memory.
TEST(PeImageTest, RefusesMoreResourcesThanItsLimit) {
  TestImageShape shape;
  shape.capacity = static_cast<std::uint32_t>(16 + 8 * (PeImage::kMaxResources + 1) + 16);
  TestImage built = BuildTestImage(shape);
  std::string& bytes = built.bytes;
  // The IniData bytes become a language directory whose every entry names one data entry.
  const std::uint32_t directory = static_cast<std::uint32_t>(built.iniData - built.tree);
  const std::size_t count = PeImage::kMaxResources + 1;
  PutU16(bytes, built.iniData + 14, static_cast<std::uint16_t>(count));
  const std::uint32_t dataEntry = directory + static_cast<std::uint32_t>(16 + 8 * count);
  for (std::size_t i = 0; i < count; ++i) {
    PutU32(bytes, built.iniData + 16 + 8 * i, static_cast<std::uint32_t>(i));
    PutU32(bytes, built.iniData + 20 + 8 * i, dataEntry);
  }
  PutU32(bytes, built.tree + dataEntry, built.treeRva);
  PutU32(bytes, built.tree + dataEntry + 4, 4);
  PutU32(bytes, built.iniDataNameEntry + 4, kSubdirectory | directory);
  EXPECT_THAT(Refusal(bytes), HasSubstr("more than 4096 resources"));
}

TEST(FixedFileVersionTest, ReadsTheFileVersionOrSaysWhyNot) {
  const std::string good = VersionInfoBytes(0x00010002u, 0x00030004u);
  std::string badSignature = good;
  PutU32(badSignature, 40, 0xFEEF04BCu);
  std::string noFixedInfo = good;
  PutU16(noFixedInfo, 2, 0);
  std::string otherKey = good;
  PutU16(otherKey, 6, 'v');
  const struct {
    std::string bytes;
    const char* version;
    const char* refusal;
  } cases[] = {
      {good, "1.2.3.4", nullptr},
      {VersionInfoBytes(0xFFFFFFFFu, 0), "65535.65535.0.0", nullptr},
      {good + "children follow", "1.2.3.4", nullptr},
      {"VS_VERSION_INFO stand-in", nullptr, "does not start with VS_VERSION_INFO"},
      {good.substr(0, 60), nullptr, "the fixed file information (offset 0x28, 52 bytes) runs past"},
      {good.substr(0, 20), nullptr, "the version resource's key (offset 0x14, 2 bytes) runs past"},
      {badSignature, nullptr, "the fixed file information has the wrong signature"},
      {noFixedInfo, nullptr, "has no fixed file information"},
      {otherKey, nullptr, "does not start with VS_VERSION_INFO"},
  };
  for (const auto& c : cases) {
    if (c.version != nullptr) {
      EXPECT_EQ(FixedFileVersion(c.bytes), c.version);
    } else {
      EXPECT_THAT(RefusalOf<EInvalidImage>([&] { FixedFileVersion(c.bytes); }),
                  HasSubstr(c.refusal));
    }
  }
}

// The sum as Microsoft describes it: 16-bit words added with end-around carry, the field
// itself counted as zero, the length added; written here the long way for comparison.
std::uint32_t ReferenceCheckSum(std::string bytes, std::size_t field) {
  for (std::size_t i = field; i < field + 4 && i < bytes.size(); ++i) bytes[i] = '\0';
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    std::uint64_t word = static_cast<unsigned char>(bytes[i]);
    if (i + 1 < bytes.size()) word |= std::uint64_t{static_cast<unsigned char>(bytes[i + 1])} << 8;
    sum += word;
  }
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum + bytes.size());
}

TEST(PeCheckSumTest, KnownSums) {
  const struct {
    std::string bytes;
    std::size_t field;
    std::uint32_t sum;
  } cases[] = {
      {"", 0, 0},
      {"\x01\x02", 8, 0x0201 + 2},
      {"\x01", 8, 0x0001 + 1},
      {"\xFF\xFF\xFF\xFF", 8, 0xFFFF + 4},                  // the carry comes round again
      {std::string("\xFF\xFF\x02\x00", 4), 8, 0x0002 + 4},  // 0x10001 folds to 2
      {std::string("\x01\x00\xAA\xBB\xCC\xDD\x02\x00", 8), 2, 0x0003 + 8},  // field left out
      {std::string("\x01\xAA\xBB\xCC\xDD\x00", 6), 1, 0x0001 + 6},          // an odd field too
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PeCheckSum(c.bytes, c.field), c.sum) << testing::PrintToString(c.bytes);
  }
}

TEST(PeCheckSumTest, AgreesWithTheLongWayOnRandomBytes) {
  std::mt19937 random(61101);
  for (int round = 0; round < 200; ++round) {
    std::string bytes(random() % 3000, '\0');
    for (char& c : bytes) c = static_cast<char>(random() % 4 == 0 ? 0xFF : random());
    const std::size_t field = random() % (bytes.size() + 8);
    ASSERT_EQ(PeCheckSum(bytes, field), ReferenceCheckSum(bytes, field)) << round;
  }
}

// The test executable itself, when it is a Windows one: it carries vpnsetup.exe's .rc.
class OwnExecutableTest : public testing::Test {
 protected:
  void SetUp() override {
    const std::string path = CreateSystemPlatform(0, nullptr)->ExecutablePath();
    // The POSIX stand-in gives "\dir\file"; only a Windows build has a drive letter.
    if (path.size() < 2 || path[1] != ':') GTEST_SKIP() << "not a Windows build: " << path;
    bytes_ = ReadFileBytes(path, std::uint64_t{1} << 30);
  }
  std::string bytes_;
};

TEST_F(OwnExecutableTest, ChecksumIsTheOneTheLinkerWrote) {
  const PeImage image(bytes_);
  EXPECT_NE(image.StoredCheckSum(), 0u);
  EXPECT_EQ(PeCheckSum(bytes_, image.CheckSumOffset()), image.StoredCheckSum());
}

TEST_F(OwnExecutableTest, CarriesTheTemplateInItsReservedRoomAndTheManifest) {
  const PeImage image(bytes_);
  const std::vector<PeResource> version = image.Find("#16", "#1");
  ASSERT_EQ(version.size(), 1u);
  EXPECT_EQ(FixedFileVersion(bytes_.substr(version[0].dataOffset, version[0].size)),
            LW_RELEASE_VERSION ".0");
  const std::vector<PeResource> manifest = image.Find("#24", "#1");
  ASSERT_EQ(manifest.size(), 1u);
  EXPECT_EQ(bytes_.substr(manifest[0].dataOffset, manifest[0].size),
            ReadFileBytes(LW_SOURCE_DIR "/resources/vpnsetup.manifest", 1 << 20));
  const std::vector<PeResource> iniData = image.Find("#10", "IniData");
  ASSERT_EQ(iniData.size(), 1u);
  EXPECT_EQ(iniData[0].size, std::uint32_t{LW_TEMPLATE_CAPACITY});
  std::string templ = ReadFileBytes(LW_TEMPLATE_FILE, 1 << 20);
  templ.resize(LW_TEMPLATE_CAPACITY, '\0');
  EXPECT_EQ(bytes_.substr(iniData[0].dataOffset, iniData[0].size), templ);
}

}  // namespace
}  // namespace lw
