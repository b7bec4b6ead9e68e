// Stamping: a copy of a built vpnsetup.exe carrying another template. The build reserves
// the IniData resource's bytes (the template, then NUL bytes up to a fixed capacity; the
// tool reads the template only up to its first NUL), so a new template is written in
// their place and nothing else in the executable moves.
#pragma once

#include <cstddef>
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
