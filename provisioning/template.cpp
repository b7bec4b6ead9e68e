#include "provisioning/template.h"

#include "ini/resource_stream.h"
#include "ini/string_list.h"

namespace lw {

void LoadTemplate(Platform& platform, TMemIniFile& templ) {
  TResourceStream stream(platform, kTemplateResourceName, kRcDataType);
  TStringList lines;
  lines.LoadFromStream(stream);
  templ.LoadLines(lines);
}

}  // namespace lw
