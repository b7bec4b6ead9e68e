// The provisioning template carried in the executable.
#pragma once

#include <cstdint>
#include <string_view>

#include "ini/mem_ini_file.h"
#include "support/strarray.h"

namespace lw {

class Platform;

inline constexpr std::string_view kTemplateResourceName = "IniData";
inline constexpr std::uint32_t kRcDataType = 10;  // RT_RCDATA

// Parses the embedded template into `templ` (a document with an empty file name).
// Raises EResNotFound when the executable carries no template.
void LoadTemplate(Platform& platform, TMemIniFile& templ);

// Parses template bytes into `templ` as LoadTemplate parses the resource's: up to the first
// NUL, every byte of the lines as it stands.
void LoadTemplateText(TMemIniFile& templ, std::string_view bytes);

// The "|" list under `section`/`key`, in order; no element when absent or empty.
TDynStrArray TemplateList(const TMemIniFile& templ, std::string_view section, std::string_view key);

// A key=value text cut at every "=": element 0 the key, element 1 the value.
TDynStrArray SplitPair(std::string_view text);

}  // namespace lw
