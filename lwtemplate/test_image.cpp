#include "lwtemplate/test_image.h"

namespace lw {
namespace {

constexpr std::size_t kPeHeader = 0x80;
constexpr std::uint32_t kFileAlignment = 0x200;
constexpr std::uint32_t kSectionAlignment = 0x1000;
constexpr std::uint32_t kHeadersSize = 0x400;
constexpr std::uint32_t kSubdirectory = 0x80000000u;

std::uint32_t Align(std::uint32_t value, std::uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

void PutU64(std::string& bytes, std::size_t at, std::uint64_t value) {
  PutU32(bytes, at, static_cast<std::uint32_t>(value));
  PutU32(bytes, at + 4, static_cast<std::uint32_t>(value >> 32));
}

void PutSection(std::string& bytes, std::size_t at, const char* name, std::uint32_t virtualSize,
                std::uint32_t rva, std::uint32_t rawSize, std::uint32_t rawOffset,
                std::uint32_t characteristics) {
  for (std::size_t i = 0; name[i] != '\0'; ++i) bytes[at + i] = name[i];
  PutU32(bytes, at + 8, virtualSize);
  PutU32(bytes, at + 12, rva);
  PutU32(bytes, at + 16, rawSize);
  PutU32(bytes, at + 20, rawOffset);
  PutU32(bytes, at + 36, characteristics);
}

// One resource directory of `count` entries at `at` of the tree; `named` of them first.
void PutDirectory(std::string& tree, std::size_t at, std::uint16_t named, std::uint16_t numbered) {
  PutU16(tree, at + 12, named);
  PutU16(tree, at + 14, numbered);
}

}  // namespace

void PutU16(std::string& bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<char>(value & 0xFF);
  bytes[at + 1] = static_cast<char>(value >> 8);
}

void PutU32(std::string& bytes, std::size_t at, std::uint32_t value) {
  PutU16(bytes, at, static_cast<std::uint16_t>(value & 0xFFFF));
  PutU16(bytes, at + 2, static_cast<std::uint16_t>(value >> 16));
}

std::uint32_t GetU32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 4; i-- > 0;) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

std::string VersionInfoBytes(std::uint32_t fileVersionHigh, std::uint32_t fileVersionLow) {
  // wLength, wValueLength, wType, "VS_VERSION_INFO" in UTF-16 with its NUL, two bytes of
  // padding, then the 52 bytes of VS_FIXEDFILEINFO.
  const std::string key = "VS_VERSION_INFO";
  std::string bytes(40 + 52, '\0');
  PutU16(bytes, 0, static_cast<std::uint16_t>(bytes.size()));
  PutU16(bytes, 2, 52);
  for (std::size_t i = 0; i < key.size(); ++i) PutU16(bytes, 6 + 2 * i, key[i]);
  PutU32(bytes, 40, 0xFEEF04BDu);
  PutU32(bytes, 44, 0x00010000u);
  PutU32(bytes, 48, fileVersionHigh);
  PutU32(bytes, 52, fileVersionLow);
  PutU32(bytes, 56, fileVersionHigh);
  PutU32(bytes, 60, fileVersionLow);
  return bytes;
}

TestImage BuildTestImage(const TestImageShape& shape) {
  TestImage image;

  // The resource tree: root, then the name and language directories of RCDATA (10),
  // VERSION (16) and MANIFEST (24), the IniData name, the data entries and the data.
  const std::size_t root = 0;
  const std::size_t nameDirs = root + 16 + 3 * 8;
  const std::size_t languageDirs = nameDirs + 3 * 24;
  const std::size_t name = languageDirs + 3 * 24;
  const std::size_t dataEntries = (name + 2 + 2 * shape.iniDataName.size() + 3) / 4 * 4;
  std::size_t data = dataEntries + 3 * 16;
  const std::string payloads[3] = {
      shape.iniData + std::string(shape.capacity - shape.iniData.size(), '\0'), shape.version,
      shape.manifest};
  std::size_t dataAt[3];
  for (std::size_t i = 0; i < 3; ++i) {
    dataAt[i] = (data + 7) / 8 * 8;
    data = dataAt[i] + payloads[i].size();
  }
  image.treeSize = static_cast<std::uint32_t>(data);
  image.treeRva = 2 * kSectionAlignment;
  std::string tree(image.treeSize, '\0');
  PutDirectory(tree, root, 0, 3);
  const std::uint16_t types[3] = {10, 16, 24};
  for (std::size_t i = 0; i < 3; ++i) {
    const std::size_t entry = root + 16 + 8 * i;
    PutU32(tree, entry, types[i]);
    PutU32(tree, entry + 4, kSubdirectory | static_cast<std::uint32_t>(nameDirs + 24 * i));
    const std::size_t nameDir = nameDirs + 24 * i;
    if (i == 0) {
      PutDirectory(tree, nameDir, 1, 0);
      PutU32(tree, nameDir + 16, kSubdirectory | static_cast<std::uint32_t>(name));
    } else {
      PutDirectory(tree, nameDir, 0, 1);
      PutU32(tree, nameDir + 16, 1);
    }
    PutU32(tree, nameDir + 20, kSubdirectory | static_cast<std::uint32_t>(languageDirs + 24 * i));
    const std::size_t languageDir = languageDirs + 24 * i;
    PutDirectory(tree, languageDir, 0, 1);
    PutU32(tree, languageDir + 16, 1033);
    PutU32(tree, languageDir + 20, static_cast<std::uint32_t>(dataEntries + 16 * i));
    PutU32(tree, dataEntries + 16 * i, image.treeRva + static_cast<std::uint32_t>(dataAt[i]));
    PutU32(tree, dataEntries + 16 * i + 4, static_cast<std::uint32_t>(payloads[i].size()));
    tree.replace(dataAt[i], payloads[i].size(), payloads[i]);
  }
  PutU16(tree, name, static_cast<std::uint16_t>(shape.iniDataName.size()));
  for (std::size_t i = 0; i < shape.iniDataName.size(); ++i) {
    PutU16(tree, name + 2 + 2 * i, static_cast<unsigned char>(shape.iniDataName[i]));
  }

  // Three sections: code, resources, relocations (so that .rsrc is not the last one).
  const std::uint32_t textRaw = kHeadersSize;
  const std::uint32_t rsrcRaw = textRaw + kFileAlignment;
  const std::uint32_t rsrcRawSize = Align(image.treeSize, kFileAlignment);
  const std::uint32_t relocRaw = rsrcRaw + rsrcRawSize;
  const std::uint32_t relocRva = image.treeRva + Align(image.treeSize, kSectionAlignment);
  std::string& bytes = image.bytes;
  bytes.assign(relocRaw + kFileAlignment, '\0');
  bytes.replace(textRaw, 16, 16, '\xC3');
  bytes.replace(rsrcRaw, tree.size(), tree);
  PutU32(bytes, relocRaw, kSectionAlignment);
  PutU32(bytes, relocRaw + 4, 12);

  bytes[0] = 'M';
  bytes[1] = 'Z';
  PutU32(bytes, 0x3C, kPeHeader);
  bytes.replace(kPeHeader, 4, std::string("PE\0\0", 4));
  const std::size_t file = kPeHeader + 4;
  PutU16(bytes, file, shape.is64Bit ? 0x8664 : 0x014C);
  PutU16(bytes, file + 2, 3);
  const std::uint16_t optionalSize = shape.is64Bit ? 240 : 224;
  PutU16(bytes, file + 16, optionalSize);
  PutU16(bytes, file + 18, shape.is64Bit ? 0x0022 : 0x0102);
  const std::size_t optional = file + 20;
  PutU16(bytes, optional, shape.is64Bit ? 0x20B : 0x10B);
  PutU32(bytes, optional + 16, kSectionAlignment);  // entry point
  PutU32(bytes, optional + 32, kSectionAlignment);
  PutU32(bytes, optional + 36, kFileAlignment);
  PutU16(bytes, optional + 40, shape.is64Bit ? 6 : 5);  // OS version
  PutU16(bytes, optional + 48, shape.is64Bit ? 6 : 5);  // subsystem version
  PutU32(bytes, optional + 56, relocRva + kSectionAlignment);
  PutU32(bytes, optional + 60, kHeadersSize);
  image.checkSumField = optional + 64;
  PutU16(bytes, optional + 68, 3);  // console
  if (shape.is64Bit) {
    PutU64(bytes, optional + 24, 0x140000000u);
    PutU64(bytes, optional + 72, 0x200000);
  } else {
    PutU32(bytes, optional + 28, 0x400000);
    PutU32(bytes, optional + 72, 0x200000);
  }
  const std::size_t directories = optional + (shape.is64Bit ? 112 : 96);
  image.numberOfRvaAndSizes = directories - 4;
  PutU32(bytes, image.numberOfRvaAndSizes, 16);
  image.resourceDirectory = directories + 2 * 8;
  PutU32(bytes, image.resourceDirectory, image.treeRva);
  PutU32(bytes, image.resourceDirectory + 4, image.treeSize);
  PutU32(bytes, directories + 5 * 8, relocRva);
  PutU32(bytes, directories + 5 * 8 + 4, 12);

  image.sectionTable = optional + optionalSize;
  PutSection(bytes, image.sectionTable, ".text", 16, kSectionAlignment, kFileAlignment, textRaw,
             0x60000020);
  PutSection(bytes, image.sectionTable + 40, ".rsrc", image.treeSize, image.treeRva, rsrcRawSize,
             rsrcRaw, 0x40000040);
  PutSection(bytes, image.sectionTable + 80, ".reloc", 12, relocRva, kFileAlignment, relocRaw,
             0x42000040);

  if (shape.signature) {
    const std::string certificate = std::string("\x10\0\0\0\0\x02\x02\0", 8) + "signed!!";
    PutU32(bytes, directories + 4 * 8, static_cast<std::uint32_t>(bytes.size()));
    PutU32(bytes, directories + 4 * 8 + 4, static_cast<std::uint32_t>(certificate.size()));
    bytes += certificate;
  }

  image.tree = rsrcRaw;
  image.rcDataTypeEntry = rsrcRaw + root + 16;
  image.iniDataNameEntry = rsrcRaw + nameDirs + 16;
  image.iniDataLanguageEntry = rsrcRaw + languageDirs + 16;
  image.iniDataEntry = rsrcRaw + dataEntries;
  image.iniData = rsrcRaw + dataAt[0];
  image.version = rsrcRaw + dataAt[1];
  image.manifest = rsrcRaw + dataAt[2];
  return image;
}

}  // namespace lw
