#include "lwtemplate/pe_image.h"

#include <algorithm>
#include <set>
#include <utility>

#include "platform/ascii_case.h"
#include "platform/hex.h"
#include "platform/text_before_nul.h"

namespace lw {
namespace {

// Offsets, sizes and magic numbers of the PE/COFF executable format.
constexpr std::size_t kDosHeaderSize = 64;
constexpr std::size_t kNewHeaderField = 0x3C;
constexpr std::size_t kFileHeaderSize = 20;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kMaxSections = 96;
constexpr std::uint16_t kMagicPe32 = 0x10B;
constexpr std::uint16_t kMagicPe32Plus = 0x20B;
constexpr std::uint16_t kExecutableImage = 0x0002;
constexpr std::uint16_t kDll = 0x2000;
constexpr std::size_t kCheckSumField = 64;
constexpr std::size_t kResourceDirectory = 2;
constexpr std::size_t kSecurityDirectory = 4;
constexpr std::size_t kDirectoryHeaderSize = 16;
constexpr std::size_t kDirectoryEntrySize = 8;
constexpr std::size_t kDataEntrySize = 16;
constexpr std::uint32_t kHighBit = 0x80000000u;

std::string Hex(std::uint64_t value) {
  return "0x" + HexDigits(value);
}

[[noreturn]] void Invalid(std::string message) {
  throw EInvalidImage(std::move(message));
}

// Whether `size` bytes at `offset` lie within `total` bytes; no sum can overflow.
bool Fits(std::uint64_t offset, std::uint64_t size, std::uint64_t total) {
  return offset <= total && size <= total - offset;
}

// Little-endian fields of a byte range, each read only after its bounds are checked.
class Fields {
 public:
  Fields(std::string_view bytes, std::string name) : bytes_(bytes), name_(std::move(name)) {}

  std::size_t Size() const { return bytes_.size(); }

  // Raises unless `size` bytes at `offset` lie within the range; `what` names them.
  void Need(std::uint64_t offset, std::uint64_t size, std::string_view what) const {
    if (Fits(offset, size, bytes_.size())) return;
    Invalid(std::string(what) + " (offset " + Hex(offset) + ", " + std::to_string(size) +
            " bytes) runs past the end of " + name_ + " (" + std::to_string(bytes_.size()) +
            " bytes)");
  }
  std::uint16_t U16(std::uint64_t offset, std::string_view what) const {
    Need(offset, 2, what);
    return static_cast<std::uint16_t>(Byte(offset) | Byte(offset + 1) << 8);
  }
  std::uint32_t U32(std::uint64_t offset, std::string_view what) const {
    Need(offset, 4, what);
    return Byte(offset) | Byte(offset + 1) << 8 | Byte(offset + 2) << 16 |
           static_cast<std::uint32_t>(Byte(offset + 3)) << 24;
  }

 private:
  std::uint32_t Byte(std::uint64_t offset) const {
    return static_cast<unsigned char>(bytes_[static_cast<std::size_t>(offset)]);
  }

  std::string_view bytes_;
  std::string name_;
};

// UTF-16 code units as UTF-8 (each unit on its own; resource names are ASCII in practice).
std::string Utf8(const Fields& tree, std::uint64_t at, std::uint16_t length) {
  std::string text;
  for (std::uint16_t i = 0; i < length; ++i) {
    const std::uint32_t unit = tree.U16(at + 2u * i, "a resource name");
    if (unit < 0x80) {
      text += static_cast<char>(unit);
    } else if (unit < 0x800) {
      text += static_cast<char>(0xC0 | unit >> 6);
      text += static_cast<char>(0x80 | (unit & 0x3F));
    } else {
      text += static_cast<char>(0xE0 | unit >> 12);
      text += static_cast<char>(0x80 | (unit >> 6 & 0x3F));
      text += static_cast<char>(0x80 | (unit & 0x3F));
    }
  }
  return text;
}

// The resource tree of one executable: three levels of directories (type, name,
// language) whose leaves are data entries, every offset relative to the tree's start.
class ResourceTree {
 public:
  struct Entry {
    std::string id;        // "#n" or the name
    bool named;            // false: `number` is the id
    std::uint16_t number;  //
    std::uint32_t target;  // high bit: a directory; else a data entry
  };

  explicit ResourceTree(std::string_view bytes) : tree_(bytes, "the resource directory") {}

  const Fields& Bytes() const { return tree_; }

  // The entries of the directory at `offset`. A directory is read once: reaching it
  // again means a loop (or a shared directory), which is refused, so that no walk can
  // take longer than the tree is big.
  std::vector<Entry> Directory(std::uint32_t offset) {
    if (!visited_.insert(offset).second) {
      Invalid("the resource directory at offset " + Hex(offset) +
              " of the tree is reached twice: the tree loops");
    }
    tree_.Need(offset, kDirectoryHeaderSize, "a resource directory");
    const std::uint32_t named = tree_.U16(offset + 12u, "a resource directory");
    const std::uint32_t numbered = tree_.U16(offset + 14u, "a resource directory");
    const std::uint64_t count = std::uint64_t{named} + numbered;
    const std::uint64_t first = std::uint64_t{offset} + kDirectoryHeaderSize;
    tree_.Need(
        first, count * kDirectoryEntrySize,
        "the " + std::to_string(count) + " entries of the resource directory at " + Hex(offset));
    std::vector<Entry> entries;
    entries.reserve(static_cast<std::size_t>(count));
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint64_t at = first + i * kDirectoryEntrySize;
      const std::uint32_t id = tree_.U32(at, "a resource directory entry");
      const std::uint32_t target = tree_.U32(at + 4, "a resource directory entry");
      const bool named = (id & kHighBit) != 0;
      entries.push_back({Id(id), named, static_cast<std::uint16_t>(named ? 0 : id), target});
    }
    return entries;
  }

 private:
  std::string Id(std::uint32_t field) const {
    if ((field & kHighBit) == 0) {
      if (field > 0xFFFF) Invalid("a resource id above 65535 (" + Hex(field) + ")");
      return NumberedResourceId(static_cast<std::uint16_t>(field));
    }
    const std::uint32_t at = field & ~kHighBit;
    const std::uint16_t length = tree_.U16(at, "a resource name");
    if (length > PeImage::kMaxNameLength) {
      Invalid("a resource name of " + std::to_string(length) + " characters (more than " +
              std::to_string(PeImage::kMaxNameLength) + ")");
    }
    tree_.Need(std::uint64_t{at} + 2, 2u * length, "a resource name");
    return Utf8(tree_, std::uint64_t{at} + 2, length);
  }

  Fields tree_;
  std::set<std::uint32_t> visited_;
};

}  // namespace

PeImage::PeImage(std::string_view bytes) : bytes_(bytes) {
  const Fields file(bytes, "the file");
  if (bytes.size() < kDosHeaderSize || bytes.substr(0, 2) != "MZ") {
    Invalid("no MZ header: not a Windows executable");
  }
  const std::uint32_t pe = file.U32(kNewHeaderField, "the PE header's offset");
  file.Need(pe, 4 + kFileHeaderSize, "the PE header");
  if (bytes.substr(pe, 4) != std::string_view("PE\0\0", 4)) {
    Invalid("no PE signature at offset " + Hex(pe) + ": not a Windows executable");
  }
  const std::size_t header = pe + 4;
  machine_ = file.U16(header, "the machine field");
  const std::size_t sections = file.U16(header + 2, "the section count");
  const std::size_t optionalSize = file.U16(header + 16, "the optional header size");
  const std::uint16_t characteristics = file.U16(header + 18, "the characteristics");
  if (machine_ != kMachineX86 && machine_ != kMachineX64) {
    Invalid("machine " + Hex(machine_) + " is neither x86 nor x64");
  }
  if ((characteristics & kExecutableImage) == 0 || (characteristics & kDll) != 0) {
    Invalid("not an executable program (characteristics " + Hex(characteristics) + ")");
  }

  const std::size_t optional = header + kFileHeaderSize;
  file.Need(optional, optionalSize, "the optional header");
  const std::uint16_t magic = file.U16(optional, "the optional header");
  const std::uint16_t expected = machine_ == kMachineX86 ? kMagicPe32 : kMagicPe32Plus;
  if (magic != expected) {
    Invalid("optional header magic " + Hex(magic) + " does not match machine " + Hex(machine_));
  }
  const std::size_t directories = magic == kMagicPe32 ? 96 : 112;
  if (optionalSize < directories) {
    Invalid("the optional header is " + std::to_string(optionalSize) + " bytes, too short");
  }
  const std::uint32_t directoryCount = file.U32(optional + directories - 4, "the directory count");
  if (std::uint64_t{directoryCount} * 8 > optionalSize - directories) {
    Invalid(std::to_string(directoryCount) + " data directories run past the optional header");
  }
  checkSumOffset_ = optional + kCheckSumField;

  if (sections == 0 || sections > kMaxSections) {
    Invalid(std::to_string(sections) + " sections (a program has 1 to 96)");
  }
  const std::size_t table = optional + optionalSize;
  file.Need(table, sections * kSectionHeaderSize, "the section table");
  headersEnd_ = table + sections * kSectionHeaderSize;
  ReadSections(table, sections);

  const auto directory = [&](std::size_t index, std::uint32_t& rva, std::uint32_t& size) {
    rva = size = 0;
    if (index >= directoryCount) return;
    rva = file.U32(optional + directories + index * 8, "a data directory");
    size = file.U32(optional + directories + index * 8 + 4, "a data directory");
  };
  std::uint32_t rva = 0;
  std::uint32_t size = 0;
  directory(kSecurityDirectory, rva, size);
  signed_ = size != 0;
  directory(kResourceDirectory, rva, size);
  if (size != 0) ReadResources(rva, size);
}

void PeImage::ReadSections(std::size_t table, std::size_t count) {
  const Fields file(bytes_, "the file");
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = table + i * kSectionHeaderSize;
    Section section{};
    section.virtualSize = file.U32(at + 8, "a section header");
    section.virtualAddress = file.U32(at + 12, "a section header");
    section.rawSize = file.U32(at + 16, "a section header");
    section.rawOffset = file.U32(at + 20, "a section header");
    if (section.rawSize != 0) {
      std::string name(TextBeforeNul(bytes_.substr(at, 8)));
      for (char& c : name) {
        if (c < 0x20 || c > 0x7E) c = '?';
      }
      file.Need(section.rawOffset, section.rawSize,
                "section " + std::to_string(i + 1) + " (" + name + ")");
    }
    sections_.push_back(section);
  }
}

bool PeImage::MapRange(std::uint32_t rva, std::uint32_t size, std::size_t& offset) const {
  for (const Section& section : sections_) {
    if (rva < section.virtualAddress) continue;
    const std::uint64_t delta = rva - section.virtualAddress;
    // Bytes past VirtualSize are padding the loader leaves out; past SizeOfRawData they
    // are not in the file at all.
    const std::uint64_t extent =
        section.virtualSize != 0 ? std::min(section.virtualSize, section.rawSize) : section.rawSize;
    if (delta >= extent || size > extent - delta) continue;
    offset = static_cast<std::size_t>(section.rawOffset + delta);
    return true;
  }
  return false;
}

void PeImage::ReadResources(std::uint32_t rva, std::uint32_t size) {
  std::size_t base = 0;
  if (!MapRange(rva, size, base)) {
    Invalid("the resource directory (RVA " + Hex(rva) + ", " + std::to_string(size) +
            " bytes) lies outside the file bytes of the sections");
  }
  ResourceTree tree(bytes_.substr(base, size));
  const auto directoryOf = [](const ResourceTree::Entry& entry, const std::string& path) {
    if ((entry.target & kHighBit) == 0) {
      Invalid("resource " + path + " ends early: the tree must be type, name, language deep");
    }
    return entry.target & ~kHighBit;
  };
  for (const ResourceTree::Entry& type : tree.Directory(0)) {
    for (const ResourceTree::Entry& name : tree.Directory(directoryOf(type, type.id))) {
      const std::string path = type.id + "/" + name.id;
      for (const ResourceTree::Entry& language : tree.Directory(directoryOf(name, path))) {
        const std::string where = path + "/" + language.id;
        if ((language.target & kHighBit) != 0) {
          Invalid("resource " + where + " goes deeper than type, name, language");
        }
        if (language.named) Invalid("resource " + where + " has a language named by a string");
        const std::uint32_t at = language.target;
        tree.Bytes().Need(at, kDataEntrySize, "the data entry of resource " + where);
        PeResource resource;
        resource.type = type.id;
        resource.name = name.id;
        resource.language = language.number;
        const std::uint32_t dataRva = tree.Bytes().U32(at, "a data entry");
        resource.size = tree.Bytes().U32(at + 4u, "a data entry");
        resource.codePage = tree.Bytes().U32(at + 8u, "a data entry");
        resource.entryOffset = base + at;
        if (!MapRange(dataRva, resource.size, resource.dataOffset)) {
          Invalid("the bytes of resource " + where + " (RVA " + Hex(dataRva) + ", " +
                  std::to_string(resource.size) +
                  " bytes) lie outside the file bytes of the sections");
        }
        if (resources_.size() == kMaxResources) {
          // Appended, not added to a literal: GCC 12 warns falsely (-Wrestrict) on the x86 build.
          Invalid(
              std::string("more than ").append(std::to_string(kMaxResources)).append(" resources"));
        }
        resources_.push_back(std::move(resource));
      }
    }
  }
}

std::uint32_t PeImage::StoredCheckSum() const {
  return Fields(bytes_, "the file").U32(checkSumOffset_, "the checksum");
}

std::vector<PeResource> PeImage::Find(std::string_view type, std::string_view name) const {
  std::vector<PeResource> found;
  for (const PeResource& resource : resources_) {
    if (resource.type == type && EqualIgnoringAsciiCase(resource.name, name)) {
      found.push_back(resource);
    }
  }
  return found;
}

std::string FixedFileVersion(std::string_view versionInfo) {
  // VS_VERSIONINFO: wLength, wValueLength, wType, the key in UTF-16 with its NUL, padding
  // to four bytes, then VS_FIXEDFILEINFO: signature, structure version, the file version's
  // high and low double words.
  static constexpr std::u16string_view kKey = u"VS_VERSION_INFO";
  static constexpr std::size_t kValue = (6 + 2 * (kKey.size() + 1) + 3) & ~std::size_t{3};
  static constexpr std::uint32_t kSignature = 0xFEEF04BDu;
  static constexpr std::size_t kFixedInfoSize = 52;
  const Fields fields(versionInfo, "the version resource");
  for (std::size_t i = 0; i <= kKey.size(); ++i) {
    const char16_t wanted = i < kKey.size() ? kKey[i] : u'\0';
    if (fields.U16(6 + 2 * i, "the version resource's key") != wanted) {
      Invalid("the version resource does not start with VS_VERSION_INFO");
    }
  }
  if (fields.U16(2, "the version resource's value size") < kFixedInfoSize) {
    Invalid("the version resource has no fixed file information");
  }
  fields.Need(kValue, kFixedInfoSize, "the fixed file information");
  if (fields.U32(kValue, "its signature") != kSignature) {
    Invalid("the fixed file information has the wrong signature");
  }
  const std::uint32_t high = fields.U32(kValue + 8, "the file version");
  const std::uint32_t low = fields.U32(kValue + 12, "the file version");
  return std::to_string(high >> 16) + "." + std::to_string(high & 0xFFFFu) + "." +
         std::to_string(low >> 16) + "." + std::to_string(low & 0xFFFFu);
}

std::string NumberedResourceId(std::uint16_t number) {
  std::string id = "#";
  id += std::to_string(number);
  return id;
}

std::uint32_t PeCheckSum(std::string_view bytes, std::size_t checkSumOffset) {
  const auto byte = [&](std::size_t i) -> std::uint32_t {
    if (i >= bytes.size() || (i >= checkSumOffset && i - checkSumOffset < 4)) return 0;
    return static_cast<unsigned char>(bytes[i]);
  };
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    sum += byte(i) | byte(i + 1) << 8;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return sum + static_cast<std::uint32_t>(bytes.size());
}

}  // namespace lw
