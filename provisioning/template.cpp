#include "provisioning/template.h"

#include "ini/resource_stream.h"
#include "ini/string_list.h"
#include "provisioning/template_format.h"

namespace lw {

void LoadTemplate(Platform& platform, TMemIniFile& templ) {
  TResourceStream stream(platform, kTemplateResourceName, kRcDataType);
  TStringList lines;
  lines.LoadFromStream(stream);
  templ.LoadLines(lines);
}

void LoadTemplateText(TMemIniFile& templ, std::string_view bytes) {
  TStringList lines;
  lines.SplitText(bytes);
  templ.LoadLines(lines);
}

TDynStrArray TemplateList(const TMemIniFile& templ, std::string_view section,
                          std::string_view key) {
  return SplitString(templ.GetValue(section, key, ""), kListDelimiter, 0, '\0');
}

TDynStrArray SplitPair(std::string_view text) {
  return SplitString(text, kPairDelimiter, 0, '\0');
}

}  // namespace lw
