#include "provisioning/probe.h"

#include <string>

#include "ini/string_list.h"
#include "provisioning/guarded.h"
#include "provisioning/template.h"
#include "provisioning/template_format.h"
#include "support/strarray.h"

namespace lw {

bool ProbeExistingEntries(Log& log, const TMemIniFile& templ, const TMemIniFile& phonebook) {
  log.Line("processing pbk " + phonebook.FileName());
  bool found = false;
  TStringList keys;
  TDynStrArray names;
  ClearStrArray(names);
  RunGuarded(log, "* exception checking: ", [&] {
    names = TemplateList(templ, kConfigSection, kCreatableKey);
    for (const std::string& name : names) {
      phonebook.GetKeyNames(name, keys);
      if (keys.Count() > 0) {
        found = true;
        break;
      }
    }
  });
  return found;
}

}  // namespace lw
