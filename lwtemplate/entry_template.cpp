#include "lwtemplate/entry_template.h"

#include <cstddef>
#include <map>
#include <utility>

#include "ini/string_list.h"
#include "platform/platform.h"
#include "provisioning/guid.h"
#include "provisioning/line_breaks.h"
#include "provisioning/pass.h"
#include "provisioning/template_format.h"
#include "support/log.h"

namespace lw {
namespace {

constexpr std::string_view kPhoneKey = "PhoneNumber";

// Lines of one key in a row (letter case ignored): one line of the template.
struct KeyRun {
  std::string key;     // as the first line spells it
  std::string folded;  // upper-cased for comparing
  std::vector<std::string> lines;
  std::size_t first;  // 1-based position of the first line in the entry
};

class Maker {
 public:
  Maker(Platform& platform, const TMemIniFile& phonebook, std::string_view entry,
        const std::vector<std::string>& managedKeys)
      : platform_(platform), phonebook_(phonebook), entry_(entry), managedKeys_(managedKeys) {}

  EntryTemplate Run() {
    if (!FindEntry()) return {{}, std::move(problems_)};
    CheckName();
    ReadLines();
    CheckGuid();
    CheckPhoneNumber();
    CollectAssignments();
    if (!problems_.empty()) return {{}, std::move(problems_)};
    std::string text = Compose();
    Verify(text);
    if (!problems_.empty()) return {{}, std::move(problems_)};
    return {std::move(text), {}};
  }

 private:
  void Problem(std::string_view key, std::string problem) {
    problems_.push_back({name_, std::string(key), std::move(problem)});
  }

  std::string Fold(std::string_view text) const {
    std::string folded(text);
    platform_.UpperCase(folded.data(), folded.size());
    return folded;
  }

  const KeyRun* FindRun(std::string_view key) const {
    const std::string folded = Fold(key);
    for (const KeyRun& run : runs_) {
      if (run.folded == folded) return &run;
    }
    return nullptr;
  }

  // The one section named `entry_`, letter case ignored, whose own spelling is kept.
  bool FindEntry() {
    TStringList sections;
    phonebook_.GetSectionNames(sections);
    const std::string wanted = Fold(entry_);
    int count = 0;
    for (const std::string_view name : sections) {
      if (Fold(name) != wanted) continue;
      if (count++ == 0) name_ = name;
    }
    if (count == 1) return true;
    name_ = entry_;
    Problem("", count == 0 ? std::string("there is no such entry")
                           : std::to_string(count) +
                                 " entries have this name (letter case ignored); which one is "
                                 "meant is unclear");
    return false;
  }

  void CheckName() {
    if (name_.empty()) Problem("", "the entry's name is empty; the tool cannot create it");
    if (name_.find(kListDelimiter) != std::string::npos) {
      Problem("", "the name holds \"|\", which separates the names of [config] cresecs");
    }
    if (Fold(name_) == Fold(kConfigSection)) {
      Problem("", "an entry named \"config\" would be the template's [config] section");
    }
  }

  void ReadLines() {
    TStringList lines;
    phonebook_.GetSectionLines(name_, lines);
    if (lines.Count() == 0) Problem("", "the entry has no lines");
    std::map<std::string, std::size_t> firstLines;
    for (int i = 0; i < lines.Count(); ++i) {
      const std::string_view line = lines[i];
      const std::string where = "line " + std::to_string(i + 1) + " " + Quoted(line);
      std::string_view key;
      if (!LineName(line, key)) {
        Problem("", where + " has no \"=\"; a template entry holds key=value lines only");
        continue;
      }
      if (key.empty()) {
        Problem("", where + " has no key before \"=\"");
        continue;
      }
      if (line.find(kLineBreakEscape, key.size()) != std::string_view::npos) {
        Problem(key,
                "the value holds the four characters \\r\\n, which a template turns into a "
                "line break");
      }
      std::string folded = Fold(key);
      if (!runs_.empty() && runs_.back().folded == folded) {
        runs_.back().lines.emplace_back(line);
        continue;
      }
      const auto [earlier, fresh] = firstLines.emplace(folded, i + 1);
      if (!fresh) {
        Problem(key, "appears again on line " + std::to_string(i + 1) +
                         ", after other keys (first on line " + std::to_string(earlier->second) +
                         "); a template repeats a key only on adjacent lines");
        continue;
      }
      runs_.push_back({std::string(key),
                       std::move(folded),
                       {std::string(line)},
                       static_cast<std::size_t>(i + 1)});
    }
  }

  void CheckGuid() {
    const KeyRun* guid = FindRun(kGuidKey);
    if (guid == nullptr) {
      Problem(kGuidKey, "is missing; the created entry's Guid is derived from it");
    } else if (guid->lines.size() > 1) {
      Problem(kGuidKey, "appears on " + std::to_string(guid->lines.size()) +
                            " lines; the tool gives the created entry one Guid");
    }
  }

  void CheckPhoneNumber() {
    const KeyRun* phone = FindRun(kPhoneKey);
    if (phone == nullptr) {
      Problem(kPhoneKey, "is missing; the template's rule finds entries by it");
      return;
    }
    phone_ = Value(phone->lines.back());
    if (phone_.empty()) {
      Problem(kPhoneKey,
              "is empty; a rule finding entries by it would manage every entry "
              "without a phone number");
    } else if (phone_.find(kPairDelimiter) != std::string::npos) {
      Problem(kPhoneKey, Quoted(phone_) + " holds \"=\", which the rule's id=" +
                             std::string(kPhoneKey) + "=value cannot carry");
    }
  }

  void CollectAssignments() {
    for (const std::string& key : managedKeys_) {
      if (key.empty()) {
        Problem("", "--manage lists an empty key (a doubled or trailing \",\")");
        continue;
      }
      const KeyRun* run = FindRun(key);
      if (run == nullptr) {
        Problem(key, "is not in the entry, so the rule cannot take its value from it (--manage)");
        continue;
      }
      // The last line of the key is the one the rule's assignment replaces.
      const std::string& line = run->lines.back();
      const std::string written = line.substr(0, line.find(kPairDelimiter));
      const std::string value = Value(line);
      if (written.find(kListDelimiter) != std::string::npos) {
        Problem(written, "the key holds \"|\", which separates a rule's assignments");
      } else if (value.find(kListDelimiter) != std::string::npos) {
        Problem(written, Quoted(value) + " holds \"|\", which separates a rule's assignments");
      } else if (value.find(kPairDelimiter) != std::string::npos) {
        Problem(written, Quoted(value) + " holds \"=\", which a rule's assignment cannot carry");
      }
      assignments_.push_back(line);
    }
  }

  static std::string Value(std::string_view line) {
    return std::string(line.substr(line.find(kPairDelimiter) + 1));
  }

  std::string Compose() const {
    const std::string rule = Fold(name_) == Fold("managed") ? "managed-rule" : "managed";
    std::string set;
    for (const std::string& assignment : assignments_) {
      if (!set.empty()) set += kListDelimiter;
      set += assignment;
    }
    // The entry, not the phonebook's path: a path names an administrator's profile, and
    // every stamped executable would carry it.
    std::string text = "; Made by lwtemplate from-phonebook from the entry [" + name_ +
                       "].\r\n; The created entry gets the Guid below with its last eight "
                       "digits plus one.\r\n";
    text += "[" + std::string(kConfigSection) + "]\r\n";
    text += std::string(kManagedKey) + "=" + rule + "\r\n";
    text += std::string(kCreatableKey) + "=" + name_ + "\r\n\r\n";
    text += "[" + rule + "]\r\n";
    text += std::string(kIdKey) + "=" + std::string(kPhoneKey) + "=" + phone_ + "\r\n";
    text += std::string(kSetKey) + "=" + set + "\r\n\r\n";
    text += "[" + name_ + "]\r\n";
    for (const KeyRun& run : runs_) {
      for (std::size_t i = 0; i < run.lines.size(); ++i) {
        if (i != 0) text += kLineBreakEscape;
        text += run.lines[i];
      }
      text += "\r\n";
    }
    return text;
  }

  // The tool's own pass, run on an empty phonebook and then again on its result, must
  // create the entry exactly (its Guid derived) and then leave it alone.
  void Verify(const std::string& text) {
    TMemIniFile templ(platform_, "");
    templ.LoadText(text);
    for (TemplateProblem& problem : CheckTemplate(platform_, templ)) {
      problems_.push_back(std::move(problem));
    }
    if (!problems_.empty()) return;

    TStringList expected;
    phonebook_.GetSectionLines(name_, expected);
    const std::string guid = DeriveEntryGuid(templ.GetValue(name_, kGuidKey, ""));
    const int guidLine = expected.FindName(kGuidKey);
    if (guidLine >= 0) expected.Put(guidLine, std::string(kGuidKey) + "=" + guid);

    TMemIniFile created(platform_, "");
    Log log(platform_, true);
    ProcessPhonebook(log, templ, created, true, GatewayOverride{});
    TMemIniFile first(platform_, "");
    first.LoadText(created.SaveText());
    if (log.ErrorLogged() || !SameEntry(first, expected, "a run on an empty phonebook")) return;

    ProcessPhonebook(log, templ, first, true, GatewayOverride{});
    TMemIniFile second(platform_, "");
    second.LoadText(first.SaveText());
    SameEntry(second, expected, "a second run");
  }

  // Whether `phonebook` holds only the entry, with `expected` lines; reports the first
  // line that differs.
  bool SameEntry(const TMemIniFile& phonebook, const TStringList& expected,
                 const std::string& run) {
    TStringList sections;
    phonebook.GetSectionNames(sections);
    if (sections.Count() != 1 || sections[0] != name_) {
      Problem("", run + " would not leave the entry alone under its own name");
      return false;
    }
    TStringList lines;
    phonebook.GetSectionLines(name_, lines);
    for (int i = 0; i < std::max(lines.Count(), expected.Count()); ++i) {
      const std::string_view got = i < lines.Count() ? lines[i] : std::string_view();
      const std::string_view want = i < expected.Count() ? expected[i] : std::string_view();
      if (got == want) continue;
      std::string_view key;
      if (!LineName(want, key)) LineName(got, key);
      Problem(key, run + " would write " + Quoted(got) + " where the entry has " + Quoted(want));
      return false;
    }
    return true;
  }

  Platform& platform_;
  const TMemIniFile& phonebook_;
  const std::string entry_;
  const std::vector<std::string>& managedKeys_;
  std::string name_;
  std::vector<KeyRun> runs_;
  std::string phone_;
  std::vector<std::string> assignments_;
  std::vector<TemplateProblem> problems_;
};

}  // namespace

const std::vector<std::string>& DefaultManagedKeys() {
  static const std::vector<std::string> keys = {
      "UseRasCredentials", "SwCompression", "PreviewDomain",      "AutoLogon",
      "ExcludedProtocols", "IpDnsSuffix",   "IpPrioritizeRemote", "IpDnsFlags"};
  return keys;
}

EntryTemplate TemplateFromEntry(Platform& platform, const TMemIniFile& phonebook,
                                std::string_view entry,
                                const std::vector<std::string>& managedKeys) {
  return Maker(platform, phonebook, entry, managedKeys).Run();
}

}  // namespace lw
