// How a folder named in UTF-16 reaches a core that speaks the ANSI code page: by its
// own name, by its short (8.3) name, or not at all; never by a look-alike.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace lw {

// The ANSI bytes of a UTF-16 text; nothing when they would not name it exactly.
using ExactConversion = std::function<std::optional<std::string>(std::u16string_view)>;
// The short form of a path; nothing when there is none.
using ShortPathLookup = std::function<std::optional<std::u16string>(std::u16string_view)>;

// Puts the ANSI form of the folder `value` into `ansi`: `value` itself when it converts
// exactly, else its short path when that does. kErrorNotInCodePage, `ansi` empty, when
// neither does.
SysError AnsiFolderName(std::u16string_view value, const ExactConversion& exact,
                        const ShortPathLookup& shortPath, std::string& ansi);

}  // namespace lw
