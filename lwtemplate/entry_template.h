// A provisioning template made from one phonebook entry: the entry to create, as it
// stands, and one rule that manages every entry dialling the same server.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ini/mem_ini_file.h"
#include "provisioning/template_checker.h"

namespace lw {

class Platform;

struct EntryTemplate {
  std::string text;                       // the template in CR LF lines; empty when refused
  std::vector<TemplateProblem> problems;  // why the entry cannot be made into one
};

// The keys a made rule enforces unless told otherwise: those of the shipped template's
// first rule.
const std::vector<std::string>& DefaultManagedKeys();

// A template whose creatable entry is `entry` of `phonebook` line for line (adjacent lines
// of one key, letter case ignored, joined with the \r\n escape into one line, as the
// template repeats a key) and whose one rule finds entries by the entry's PhoneNumber and
// enforces the entry's values of `managedKeys`. It is refused, with the reasons, when the
// tool's own creation on an empty phonebook would not give back the entry with its Guid
// derived, or when a second run would change it. A comment names the entry.
EntryTemplate TemplateFromEntry(Platform& platform, const TMemIniFile& phonebook,
                                std::string_view entry,
                                const std::vector<std::string>& managedKeys);

}  // namespace lw
