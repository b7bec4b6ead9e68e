// Arbitrary bytes as an executable: reading them never fails but by refusing, every
// resource it reports lies within them, what show reads (the template, the version) lies
// within them too, and a stamp that succeeds changes nothing but the template's room and
// the checksum, which is right for the new bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "lwtemplate/pe_image.h"
#include "lwtemplate/stamp.h"

namespace {

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "pe_fuzz: %s\n", what);
  std::abort();
}

constexpr std::string_view kTemplate = "[config]\r\nmansecs=\r\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    const lw::PeImage image(bytes);
    for (const lw::PeResource& resource : image.Resources()) {
      Check(resource.dataOffset <= size && resource.size <= size - resource.dataOffset,
            "a resource outside the bytes");
    }
    Check(image.CheckSumOffset() + 4 <= size, "the checksum outside the bytes");
    lw::PeCheckSum(bytes, image.CheckSumOffset());
  } catch (const lw::EInvalidImage&) {
    return 0;
  }

  try {
    const lw::ExecutableInfo info = lw::InspectExecutable(bytes);
    Check(info.templ.data() >= bytes.data() &&
              info.templ.data() + info.templ.size() <= bytes.data() + size,
          "the template outside the bytes");
    Check(info.templ.find('\0') == std::string_view::npos, "a NUL in the template");
  } catch (const lw::EStampRefused&) {
  }

  std::string stamped;
  lw::TemplateRoom room;
  try {
    room = lw::FindTemplateRoom(bytes);
    stamped = lw::StampTemplate(bytes, kTemplate);
  } catch (const lw::EStampRefused&) {
    return 0;
  }
  Check(stamped.size() == size, "the stamped copy has another size");
  for (std::size_t i = 0; i < size; ++i) {
    const bool roomByte = i >= room.offset && i - room.offset < room.capacity;
    const bool sumByte = i >= room.checkSumOffset && i - room.checkSumOffset < 4;
    if (!roomByte && !sumByte) Check(stamped[i] == bytes[i], "a byte outside the room changed");
  }
  Check(std::string_view(stamped).substr(room.offset, kTemplate.size()) == kTemplate,
        "the template is not in the room");
  const lw::PeImage again(stamped);
  Check(again.StoredCheckSum() == lw::PeCheckSum(stamped, again.CheckSumOffset()),
        "the checksum is wrong");
  return 0;
}
