#include "provisioning/template_checker.h"

#include <algorithm>
#include <cstddef>
#include <string_view>

#include "ini/case_fold.h"
#include "ini/string_list.h"
#include "ini/text_file.h"
#include "platform/hex.h"
#include "provisioning/line_breaks.h"
#include "provisioning/template.h"
#include "provisioning/template_format.h"
#include "support/strarray.h"

namespace lw {
namespace {

constexpr std::size_t kGuidDigits = 32;

class Checker {
 public:
  Checker(Platform& platform, const TMemIniFile& templ)
      : templ_(templ), fold_(&platform), sections_(platform) {
    templ_.GetSectionNames(sections_);
  }

  std::vector<TemplateProblem> Run() {
    for (const std::string& name : ListedSections(kManagedKey)) CheckManaged(name);
    for (const std::string& name : ListedSections(kCreatableKey)) CheckCreatable(name);
    return std::move(problems_);
  }

 private:
  void Report(std::string_view section, std::string_view key, std::string problem) {
    problems_.push_back({std::string(section), std::string(key), std::move(problem)});
  }

  // The names listed under config/`key` whose section exists; reports the others.
  TDynStrArray ListedSections(std::string_view key) {
    TDynStrArray names = TemplateList(templ_, kConfigSection, key);
    const auto missing = [&](const std::string& name) {
      if (sections_.FindLine(name) >= 0) return false;
      Report(kConfigSection, key,
             name.empty() ? "lists an empty section name (doubled or trailing \"|\")"
                          : "lists " + Quoted(name) + ", but there is no such section");
      return true;
    };
    names.erase(std::remove_if(names.begin(), names.end(), missing), names.end());
    return names;
  }

  void CheckManaged(const std::string& name) {
    const std::string id = templ_.GetValue(name, kIdKey, "");
    const TDynStrArray idPieces = SplitPair(id);
    if (idPieces.size() != 2 || idPieces[0].empty()) {
      Report(name, kIdKey,
             (id.empty() ? std::string("is missing or empty") : Quoted(id) + " is not") +
                 "; it must be one key=value, such as PhoneNumber=vpn.example.com");
    }
    const TDynStrArray assignments = TemplateList(templ_, name, kSetKey);
    for (std::size_t i = 0; i < assignments.size(); ++i) {
      const std::string& assignment = assignments[i];
      const std::string which = "assignment " + std::to_string(i + 1);
      const TDynStrArray pair = SplitPair(assignment);
      if (assignment.empty()) {
        Report(name, kSetKey, which + " is empty (doubled or trailing \"|\")");
      } else if (pair.size() < 2) {
        Report(name, kSetKey, which + " " + Quoted(assignment) + " has no \"=\"");
      } else if (pair.size() > 2) {
        Report(
            name, kSetKey,
            which + " " + Quoted(assignment) + " has more than one \"=\"; a value cannot hold one");
      } else if (pair[0].empty()) {
        Report(name, kSetKey, which + " " + Quoted(assignment) + " has no key before \"=\"");
      }
    }
  }

  void CheckCreatable(const std::string& name) {
    const std::string guid = templ_.GetValue(name, kGuidKey, "");
    if (guid.size() != kGuidDigits || !std::all_of(guid.begin(), guid.end(), IsHexDigit)) {
      Report(name, kGuidKey,
             (guid.empty() ? std::string("is missing or empty") : Quoted(guid) + " is not") +
                 "; it must be 32 hexadecimal digits");
    }
    const int guidLines = CountCreatedLines(name, kGuidKey);
    if (guidLines > 1) {
      Report(name, kGuidKey,
             "appears on " + std::to_string(guidLines) +
                 " lines; the created entry would keep all but the last as they stand, "
                 "with the template's own Guid: keep one");
    }
  }

  // The lines named `key` that creating entry `name` writes, counting those that a \r\n
  // escape in a value starts.
  int CountCreatedLines(const std::string& name, std::string_view key) const {
    std::string wanted;
    fold_.Folded(key, wanted);
    std::string buffer;
    const auto named = [&](std::string_view line) {
      std::string_view lineName;
      if (!LineName(line, lineName)) return false;
      // A line started by the escape is trimmed when the phonebook is read again.
      while (!lineName.empty() && static_cast<unsigned char>(lineName.front()) <= 0x20) {
        lineName.remove_prefix(1);
      }
      while (!lineName.empty() && static_cast<unsigned char>(lineName.back()) <= 0x20) {
        lineName.remove_suffix(1);
      }
      return fold_.Matches(lineName, key, wanted, buffer);
    };
    TStringList lines;
    templ_.GetSectionLines(name, lines);
    int count = 0;
    for (const std::string_view line : lines) {
      std::string_view lineName;
      if (!LineName(line, lineName)) continue;
      count += named(line) ? 1 : 0;
      const std::string value = ExpandLineBreaks(line.substr(lineName.size() + 1));
      for (std::size_t end = value.find("\r\n"); end != std::string::npos;) {
        const std::size_t start = end + 2;
        end = value.find("\r\n", start);
        count += named(std::string_view(value).substr(start, end - start)) ? 1 : 0;
      }
    }
    return count;
  }

  const TMemIniFile& templ_;
  CaseFold fold_;
  TStringList sections_;
  std::vector<TemplateProblem> problems_;
};

}  // namespace

std::string Quoted(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted += '"';
  quoted += text;
  quoted += '"';
  return quoted;
}

std::string TemplateProblem::Text() const {
  if (section.empty() && key.empty()) return problem;
  std::string text = "[" + section + "] ";
  if (!key.empty()) text += key + ": ";
  return text + problem;
}

std::vector<TemplateProblem> CheckTemplate(Platform& platform, const TMemIniFile& templ) {
  return Checker(platform, templ).Run();
}

std::vector<TemplateProblem> CheckTemplateText(Platform& platform, std::string_view text) {
  if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
    return {{"", "",
             "holds a NUL byte at offset " + std::to_string(nul) +
                 " (UTF-16 or not text); the tool reads a template only up to its first NUL"}};
  }
  if (text.substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark) {
    return {{"", "",
             "starts with a UTF-8 byte-order mark, which the tool would read as part of the "
             "first line; save it as ANSI text (or UTF-8 without a byte-order mark)"}};
  }
  TMemIniFile templ(platform, "");
  templ.LoadText(text);
  return CheckTemplate(platform, templ);
}

}  // namespace lw
