// Stamping: a copy of a built vpnsetup.exe carrying another template. The build reserves
// the IniData resource's bytes (the template, then NUL bytes up to a fixed capacity; the
// tool reads the template only up to its first NUL), so a new template is written in
// their place and nothing else in the executable moves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/exception.h"

namespace lw {

// An input the stamp refuses for a reason other than its PE format.
class EStampRefused : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EStampRefused"; }
};

// Where the template goes in an executable, and how much it can hold.
struct TemplateRoom {
  std::size_t offset = 0;    // file offset of the IniData bytes
  std::size_t capacity = 0;  // their count
  bool is64Bit = false;
  std::size_t checkSumOffset = 0;
};

// What a vpnsetup.exe carries, signed or not.
struct ExecutableInfo {
  TemplateRoom room;
  std::string_view templ;   // the template: the room's bytes before its first NUL
  std::string fileVersion;  // "1.1.0.0"; empty when it has no readable version resource
  bool isSigned = false;    // a certificate table is attached (not verified)
};

// Resource type of the version information (RT_VERSION).
inline constexpr std::uint16_t kVersionType = 16;

// What `exe` carries; `templ` points into it. Raises EInvalidImage or EStampRefused as
// FindTemplateRoom does, except that a signature is no refusal.
ExecutableInfo InspectExecutable(std::string_view exe);

// The room of `exe`'s one IniData RCDATA resource. Raises EInvalidImage for bytes that are
// not a PE executable, EStampRefused for a signed one or one without (or with several)
// IniData resources, or with resource bytes inside its headers.
TemplateRoom FindTemplateRoom(std::string_view exe);

// `exe` with its IniData bytes replaced by `templ` followed by NUL bytes, and its PE
// checksum recomputed; every other byte is kept. Raises as FindTemplateRoom does, and
// EStampRefused when `templ` is larger than the room or holds a NUL byte, or when the new
// bytes would change the resource tree (room that overlaps it).
std::string StampTemplate(std::string_view exe, std::string_view templ);

}  // namespace lw
