#include "platform/ansi_name.h"

#include <utility>

namespace lw {

SysError AnsiFolderName(std::u16string_view value, const ExactConversion& exact,
                        const ShortPathLookup& shortPath, std::string& ansi) {
  ansi.clear();
  if (auto bytes = exact(value)) {
    ansi = std::move(*bytes);
    return 0;
  }
  if (const auto shortened = shortPath(value)) {
    if (auto bytes = exact(*shortened)) {
      ansi = std::move(*bytes);
      return 0;
    }
  }
  return kErrorNotInCodePage;
}

}  // namespace lw
