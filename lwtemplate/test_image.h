// Test helper: a small PE executable built field by field, independently of the reader,
// with the resources vpnsetup.exe carries (manifest 24/1, version 16/1, RCDATA IniData
// with room reserved), and the offsets that the damage tests aim at.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

namespace lw {

struct TestImageShape {
  bool is64Bit = true;
  std::string manifest = "<assembly manifestVersion=\"1.0\"/>";
  std::string version = "VS_VERSION_INFO stand-in";
  std::string iniData = "[config]\r\n";  // then NUL bytes up to `capacity`
  std::uint32_t capacity = 256;
  std::string iniDataName = "INIDATA";  // as the resource compiler stores it
  bool signature = false;               // a certificate table appended
};

struct TestImage {
  std::string bytes;
  std::size_t checkSumField = 0;  // file offset of the optional header's CheckSum
  std::size_t numberOfRvaAndSizes = 0;
  std::size_t resourceDirectory = 0;  // file offset of data directory 2 (RVA, size)
  std::size_t sectionTable = 0;
  std::size_t tree = 0;  // file offset of the resource tree's root
  std::uint32_t treeRva = 0;
  std::uint32_t treeSize = 0;
  std::size_t rcDataTypeEntry = 0;   // file offset of the root's RCDATA entry
  std::size_t iniDataNameEntry = 0;  // file offset of the IniData name entry
  std::size_t iniDataLanguageEntry = 0;
  std::size_t iniDataEntry = 0;  // file offset of IniData's data entry
  std::size_t iniData = 0;       // file offset of IniData's bytes
  std::size_t manifest = 0;
  std::size_t version = 0;
};

TestImage BuildTestImage(const TestImageShape& shape = {});

// The bytes of a version resource (VS_VERSION_INFO with its fixed file information and no
// children) giving the file version's two double words.
std::string VersionInfoBytes(std::uint32_t fileVersionHigh, std::uint32_t fileVersionLow);

// Little-endian field writes into test bytes.
void PutU16(std::string& bytes, std::size_t at, std::uint16_t value);
void PutU32(std::string& bytes, std::size_t at, std::uint32_t value);
std::uint32_t GetU32(const std::string& bytes, std::size_t at);

// The message of the `Refusal` that `action` raises; a test failure for anything else.
template <typename Refusal, typename Action>
std::string RefusalOf(Action&& action) {
  try {
    action();
  } catch (const Refusal& refusal) {
    return refusal.Message();
  } catch (const std::exception& error) {
    ADD_FAILURE() << "another error: " << error.what();
    return "";
  }
  ADD_FAILURE() << "accepted";
  return "";
}

}  // namespace lw
