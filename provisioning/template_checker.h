// Build-time refusal of templates that the pass could not use as meant.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ini/mem_ini_file.h"

namespace lw {

class Platform;

struct TemplateProblem {
  std::string section;
  std::string key;
  std::string problem;

  // "[section] key: problem"; without the key when it concerns the whole section, and only
  // the problem when it concerns the whole file.
  std::string Text() const;
};

// `text` in double quotes, as problems quote the values they name.
std::string Quoted(std::string_view text);

// Every problem found, in template order; none for a usable template:
// - a name in "mansecs" or "cresecs" with no section of that name;
// - a managed "id" that is not one key=value with a non-empty key;
// - a "set" assignment that is empty, lacks "=", holds a second "=" or has no key;
// - a creatable entry without a Guid of 32 hexadecimal digits, or with more than one Guid
//   line (a \r\n escape in a value included).
// Section names fold letter case with `platform`, as the document's lookups do.
std::vector<TemplateProblem> CheckTemplate(Platform& platform, const TMemIniFile& templ);

// The problems of a template file's bytes as the tool reads them from its resource: a NUL
// byte (the tool stops reading there) or a UTF-8 byte-order mark (which the tool would
// read as part of the first line), else CheckTemplate's problems of the parsed text.
std::vector<TemplateProblem> CheckTemplateText(Platform& platform, std::string_view text);

}  // namespace lw
