#include "provisioning/pass.h"

#include <string>
#include <string_view>

#include "ini/string_list.h"
#include "provisioning/guarded.h"
#include "provisioning/guid.h"
#include "provisioning/line_breaks.h"
#include "provisioning/template.h"
#include "provisioning/template_format.h"
#include "support/strarray.h"

namespace lw {
namespace {

void UpdateManagedEntries(Log& log, const TMemIniFile& templ, TMemIniFile& phonebook,
                          GatewayOverride gateway) {
  TStringList sections;
  const TDynStrArray managed = TemplateList(templ, kConfigSection, kManagedKey);
  for (const std::string& rule : managed) {
    const TDynStrArray id = SplitPair(templ.GetValue(rule, kIdKey, ""));
    if (id.size() < 2) continue;  // no key=value: finds nothing
    const TDynStrArray assignments = TemplateList(templ, rule, kSetKey);
    phonebook.GetSectionNames(sections);
    for (const std::string_view entry : sections) {
      if (phonebook.GetValue(entry, id[0], "") != id[1]) continue;
      for (const std::string& assignment : assignments) {
        const TDynStrArray pair = SplitPair(assignment);
        if (pair.size() < 2) continue;
        const std::string value = GatewayValue(pair[0], pair[1], gateway);
        log.Line("* on [" + std::string(entry) + "] setting " + pair[0] + "=" + value);
        phonebook.SetValue(entry, pair[0], value);
      }
    }
  }
}

// Copies the template's lines of `entry` one by one, so repeated names and letter-case
// variants (Device, DEVICE) all survive; then the Guid line takes `guid` in place.
void CopyEntry(const TMemIniFile& templ, TMemIniFile& phonebook, const std::string& entry,
               const std::string& guid, GatewayOverride gateway) {
  TStringList lines;
  templ.GetSectionLines(entry, lines);
  for (const std::string_view line : lines) {
    std::string_view name;
    if (!LineName(line, name)) {
      phonebook.AppendLine(entry, line);
      continue;
    }
    const std::string_view value = line.substr(name.size() + 1);
    phonebook.AppendLine(
        entry, std::string(name) + "=" + ExpandLineBreaks(GatewayValue(name, value, gateway)));
  }
  phonebook.SetValue(entry, kGuidKey, guid);
}

void CreateEntries(Log& log, const TMemIniFile& templ, TMemIniFile& phonebook,
                   GatewayOverride gateway) {
  TStringList keys;
  const TDynStrArray creatable = TemplateList(templ, kConfigSection, kCreatableKey);
  for (const std::string& entry : creatable) {
    std::string guid = phonebook.GetValue(entry, kGuidKey, "");
    if (guid.empty()) guid = DeriveEntryGuid(templ.GetValue(entry, kGuidKey, ""));
    phonebook.GetKeyNames(entry, keys);
    if (keys.Count() > 0) {
      log.Line("* not creating [" + entry + "]");
      continue;
    }
    log.Line("* creating [" + entry + "]");
    CopyEntry(templ, phonebook, entry, guid, gateway);
  }
}

}  // namespace

void ProcessPhonebook(Log& log, const TMemIniFile& templ, TMemIniFile& phonebook, bool create,
                      GatewayOverride gateway) {
  log.Line("* processing pbk " + phonebook.FileName());
  RunGuarded(
      log, "* exception updating: ", [&] { UpdateManagedEntries(log, templ, phonebook, gateway); });
  if (create) {
    RunGuarded(log, "* exception adding/updating: ", [&] {
      CreateEntries(log, templ, phonebook, gateway);
    });
  }
}

}  // namespace lw
