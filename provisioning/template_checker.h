// Build-time refusal of templates that the pass could not use as meant.
#pragma once

#include <string>
#include <vector>

#include "ini/mem_ini_file.h"
#include "platform/platform.h"

namespace lw {

struct TemplateProblem {
  std::string section;
  std::string key;
  std::string problem;

  // "[section] key: problem"
  std::string Text() const;
};

// Every problem found, in template order; none for a usable template:
// - a name in "mansecs" or "cresecs" with no section of that name;
// - a managed "id" that is not one key=value with a non-empty key;
// - a "set" assignment that is empty, lacks "=", holds a second "=" or has no key;
// - a creatable entry without a Guid of 32 hexadecimal digits.
// Section names fold letter case with `platform`, as the document's lookups do.
std::vector<TemplateProblem> CheckTemplate(Platform& platform, const TMemIniFile& templ);

}  // namespace lw
