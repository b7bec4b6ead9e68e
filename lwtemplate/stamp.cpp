#include "lwtemplate/stamp.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "lwtemplate/pe_image.h"
#include "provisioning/template.h"

namespace lw {

namespace {

TemplateRoom RoomOf(const PeImage& image) {
  const std::vector<PeResource> found =
      image.Find(NumberedResourceId(kRcDataType), kTemplateResourceName);
  if (found.empty()) {
    throw EStampRefused("has no IniData resource: not a vpnsetup.exe built by this project");
  }
  if (found.size() > 1) {
    throw EStampRefused("has " + std::to_string(found.size()) +
                        " IniData resources (one a language each); expected one");
  }
  if (found.front().dataOffset < image.HeadersEnd()) {
    throw EStampRefused("has its IniData bytes inside its headers");
  }
  return {found.front().dataOffset, found.front().size, image.Is64Bit(), image.CheckSumOffset()};
}

}  // namespace

TemplateRoom FindTemplateRoom(std::string_view exe) {
  const PeImage image(exe);
  if (image.IsSigned()) {
    throw EStampRefused(
        "carries a signature, which a new template would break: stamp the unsigned "
        "executable, then sign the result");
  }
  return RoomOf(image);
}

ExecutableInfo InspectExecutable(std::string_view exe) {
  const PeImage image(exe);
  ExecutableInfo info;
  info.room = RoomOf(image);
  info.isSigned = image.IsSigned();
  const std::string_view bytes = exe.substr(info.room.offset, info.room.capacity);
  info.templ = bytes.substr(0, std::min(bytes.find('\0'), bytes.size()));
  const std::vector<PeResource> versions = image.Find(NumberedResourceId(kVersionType), "#1");
  try {
    if (versions.size() == 1) {
      info.fileVersion =
          FixedFileVersion(exe.substr(versions.front().dataOffset, versions.front().size));
    }
  } catch (const EInvalidImage&) {
    // No readable version: shown as none.
  }
  return info;
}

std::string StampTemplate(std::string_view exe, std::string_view templ) {
  const TemplateRoom room = FindTemplateRoom(exe);
  if (templ.size() > room.capacity) {
    throw EStampRefused("has room for a template of " + std::to_string(room.capacity) +
                        " bytes, not " + std::to_string(templ.size()) +
                        "; shorten the template (comments can go) or build with a larger "
                        "LINKWRIGHT_TEMPLATE_CAPACITY");
  }
  if (templ.find('\0') != std::string_view::npos) {
    throw EStampRefused("cannot carry a template holding a NUL byte");
  }
  std::string stamped(exe);
  stamped.replace(room.offset, templ.size(), templ);
  std::fill_n(stamped.begin() + static_cast<std::ptrdiff_t>(room.offset + templ.size()),
              room.capacity - templ.size(), '\0');
  // Room that a hostile file lets overlap its resource tree would change what it says.
  try {
    const TemplateRoom again = FindTemplateRoom(stamped);
    if (again.offset != room.offset || again.capacity != room.capacity) throw EStampRefused("");
  } catch (const Exception&) {
    throw EStampRefused("has IniData bytes that overlap its resource directory");
  }
  const std::uint32_t sum = PeCheckSum(stamped, room.checkSumOffset);
  for (std::size_t i = 0; i < 4; ++i) {
    stamped[room.checkSumOffset + i] = static_cast<char>(sum >> (8 * i));
  }
  return stamped;
}

}  // namespace lw
