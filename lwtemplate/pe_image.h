// Reading a Windows executable (PE/COFF) from bytes that may be hostile: its headers,
// section table and resource tree. Every offset, size and count is checked against the
// bytes before it is used: nothing is read out of bounds, no walk can loop, and memory
// grows only with what the bytes themselves hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/exception.h"

namespace lw {

// Bytes that are not a usable PE executable; the message names the part and the problem.
class EInvalidImage : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EInvalidImage"; }
};

// One resource, a leaf of the type / name / language tree.
struct PeResource {
  std::string type;  // "#10" for a numbered type, else its name in UTF-8
  std::string name;  // likewise
  std::uint16_t language = 0;
  std::uint32_t codePage = 0;
  std::size_t entryOffset = 0;  // file offset of its data entry
  std::size_t dataOffset = 0;   // file offset of its bytes
  std::uint32_t size = 0;
};

class PeImage {
 public:
  static constexpr std::uint16_t kMachineX86 = 0x014C;
  static constexpr std::uint16_t kMachineX64 = 0x8664;
  // Limits well above any real executable's, so that hostile counts stay cheap.
  static constexpr std::size_t kMaxResources = 4096;
  static constexpr std::size_t kMaxNameLength = 1024;

  // Reads the headers, the section table and the resource tree of `bytes`, which must
  // outlive the image. Raises EInvalidImage naming the first problem.
  explicit PeImage(std::string_view bytes);

  std::uint16_t Machine() const { return machine_; }
  bool Is64Bit() const { return machine_ == kMachineX64; }
  // File offset of the optional header's CheckSum field, and its stored value.
  std::size_t CheckSumOffset() const { return checkSumOffset_; }
  std::uint32_t StoredCheckSum() const;
  // File offset just past the section table: everything before it is headers.
  std::size_t HeadersEnd() const { return headersEnd_; }
  // Whether a certificate table (an Authenticode signature) is attached.
  bool IsSigned() const { return signed_; }
  // Every resource, in the order of the tree.
  const std::vector<PeResource>& Resources() const { return resources_; }
  // The resources of `type` ("#10") and `name`, ASCII letter case ignored as FindResource
  // ignores it.
  std::vector<PeResource> Find(std::string_view type, std::string_view name) const;

 private:
  struct Section {
    std::uint32_t virtualAddress;
    std::uint32_t virtualSize;
    std::uint32_t rawOffset;
    std::uint32_t rawSize;
  };

  void ReadSections(std::size_t table, std::size_t count);
  void ReadResources(std::uint32_t rva, std::uint32_t size);
  // File offset of the `size` bytes at `rva` when they lie wholly within the file bytes
  // of one section; false otherwise.
  bool MapRange(std::uint32_t rva, std::uint32_t size, std::size_t& offset) const;

  std::string_view bytes_;
  std::uint16_t machine_ = 0;
  std::size_t checkSumOffset_ = 0;
  std::size_t headersEnd_ = 0;
  bool signed_ = false;
  std::vector<Section> sections_;
  std::vector<PeResource> resources_;
};

// The file version ("1.1.0.0") of the bytes of a version resource (type #16), from its
// fixed file information. Raises EInvalidImage when they do not hold one.
std::string FixedFileVersion(std::string_view versionInfo);

// "#10" for 10: how a numbered type or name is written among named ones (as Windows
// writes MAKEINTRESOURCE numbers in text).
std::string NumberedResourceId(std::uint16_t number);

// The PE checksum of `bytes`: the 16-bit words summed with their carries folded back in,
// the four bytes at `checkSumOffset` counted as zero, plus the length of the file.
std::uint32_t PeCheckSum(std::string_view bytes, std::size_t checkSumOffset);

}  // namespace lw
