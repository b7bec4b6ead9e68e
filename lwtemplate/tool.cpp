#include "lwtemplate/tool.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string_view>

#include "ini/mem_ini_file.h"
#include "ini/text_file.h"
#include "ini/text_lines.h"
#include "lwtemplate/entry_template.h"
#include "lwtemplate/file_bytes.h"
#include "lwtemplate/stamp.h"
#include "platform/platform.h"
#include "provisioning/template.h"
#include "provisioning/template_checker.h"
#include "provisioning/template_format.h"
#include "support/exception.h"
#include "support/strarray.h"

namespace lw {
namespace {

// Far above what any executable has room for.
constexpr std::uint64_t kMaxTemplateBytes = std::uint64_t{1} << 20;
constexpr std::uint64_t kMaxExecutableBytes = std::uint64_t{64} << 20;

constexpr std::string_view kUsage =
    "usage: lwtemplate check TEMPLATE\n"
    "       lwtemplate stamp TEMPLATE IN.exe OUT.exe\n"
    "       lwtemplate from-phonebook PHONEBOOK ENTRY [--manage KEY,KEY,...]\n"
    "       lwtemplate --help\n";

std::string Help() {
  std::string keys;
  for (const std::string& key : DefaultManagedKeys()) keys += (keys.empty() ? "" : ",") + key;
  return std::string(kUsage) +
         "\n"
         "Provisioning templates for vpnsetup.exe (see docs/template.md).\n"
         "\n"
         "check TEMPLATE\n"
         "    Refuses a template that vpnsetup.exe could not use as meant, naming the\n"
         "    section, key and problem of each fault; says so in one line when it is good.\n"
         "stamp TEMPLATE IN.exe OUT.exe\n"
         "    Writes OUT.exe: a copy of vpnsetup.exe IN.exe (32- or 64-bit) that carries\n"
         "    TEMPLATE, which is checked first. IN.exe is never changed; nothing is written\n"
         "    when anything is refused. Sign OUT.exe after stamping, not before.\n"
         "from-phonebook PHONEBOOK ENTRY [--manage KEY,KEY,...]\n"
         "    Prints a template that creates ENTRY of PHONEBOOK (a rasphone.pbk) exactly as\n"
         "    it stands, with a Guid derived from its own, and manages every entry with\n"
         "    ENTRY's PhoneNumber, enforcing ENTRY's values of the keys listed (default:\n"
         "    " +
         keys +
         ").\n"
         "\n"
         "Exit status: 0 on success, 2 when anything is refused.\n";
}

// Every line of `text` on standard output, ended by CR LF.
void WriteLines(Platform& platform, std::string_view text) {
  ForEachLine(text, [&](std::string_view line) { platform.WriteLine(line); });
}

void Report(Platform& platform, std::string_view file, std::string_view problem) {
  std::string line(file);
  line += ": ";
  line += problem;
  line += '\n';
  platform.WriteError(line);
}

int Usage(Platform& platform, std::string_view problem) {
  platform.WriteError("lwtemplate: " + std::string(problem) + "\n" + std::string(kUsage));
  return kToolRefused;
}

// Reports `problems` of `file` and a closing count; true when there were none.
bool ReportProblems(Platform& platform, std::string_view file,
                    const std::vector<TemplateProblem>& problems, std::string_view outcome) {
  for (const TemplateProblem& problem : problems) Report(platform, file, problem.Text());
  if (problems.empty()) return true;
  Report(platform, file,
         std::string(outcome) + " (" + std::to_string(problems.size()) + " problem" +
             (problems.size() == 1 ? ")" : "s)"));
  return false;
}

// The bytes of the template at `path` when the tool could use them as meant.
bool ReadTemplate(Platform& platform, const std::string& path, std::string& bytes) {
  try {
    bytes = ReadFileBytes(path, kMaxTemplateBytes);
  } catch (const Exception& error) {
    Report(platform, path, error.Message());
    return false;
  }
  return ReportProblems(platform, path, CheckTemplateText(platform, bytes), "template refused");
}

// "1 rule", "2 rules".
std::string Count(std::size_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

// The phonebook at `path` read as a run reads it (ANSI text: no NUL byte, so no UTF-16; a
// UTF-8 byte-order mark kept; within the run's size limit); a phonebook that is not there
// is empty and not Loaded. Reports a refusal and returns false.
bool LoadPhonebook(Platform& platform, const std::string& path,
                   std::unique_ptr<TMemIniFile>& phonebook) {
  try {
    phonebook = std::make_unique<TMemIniFile>(platform, path);
    return true;
  } catch (const Exception& error) {
    Report(platform, path, error.Message());
  } catch (const std::exception& error) {
    Report(platform, path, error.what());
  }
  return false;
}

int Check(Platform& platform, const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage(platform, "check takes one file: TEMPLATE");
  std::string bytes;
  if (!ReadTemplate(platform, args[0], bytes)) return kToolRefused;
  TMemIniFile templ(platform, "");
  templ.LoadText(bytes);
  platform.WriteLine(
      args[0] + ": template good: " +
      Count(TemplateList(templ, kConfigSection, kManagedKey).size(), "rule", "rules") + ", " +
      Count(TemplateList(templ, kConfigSection, kCreatableKey).size(), "creatable entry",
            "creatable entries") +
      ", " + Count(bytes.size(), "byte", "bytes"));
  return kToolSuccess;
}

// Whether `a` and `b` name one file that is there, by the file itself: its volume and
// index, not its spelling (a short name, ".\\", a link).
bool SameFile(Platform& platform, std::string_view a, std::string_view b) {
  std::optional<FileIdentity> first;
  std::optional<FileIdentity> second;
  return platform.IdentifyFile(a, first) == 0 && platform.IdentifyFile(b, second) == 0 && first &&
         first == second;
}

int Stamp(Platform& platform, const std::vector<std::string>& args) {
  if (args.size() != 3) return Usage(platform, "stamp takes three files: TEMPLATE IN.exe OUT.exe");
  const std::string& templatePath = args[0];
  const std::string& in = args[1];
  const std::string& out = args[2];
  std::string templ;
  if (!ReadTemplate(platform, templatePath, templ)) return kToolRefused;
  if (SameFile(platform, in, out)) {
    Report(platform, out, "is IN.exe itself, which stamping never changes: name a new file");
    return kToolRefused;
  }
  std::string stamped;
  TemplateRoom room;
  try {
    const std::string exe = ReadFileBytes(in, kMaxExecutableBytes);
    room = FindTemplateRoom(exe);
    stamped = StampTemplate(exe, templ);
  } catch (const Exception& error) {
    Report(platform, in, error.Message());
    return kToolRefused;
  }
  try {
    WriteTextFile(platform, out, stamped);
  } catch (const Exception& error) {
    Report(platform, out, error.Message());
    return kToolRefused;
  }
  platform.WriteLine(out + ": " + (room.is64Bit ? "64" : "32") + "-bit vpnsetup.exe carrying " +
                     templatePath + " (" + std::to_string(templ.size()) + " of " +
                     std::to_string(room.capacity) + " bytes)");
  return kToolSuccess;
}

int FromPhonebook(Platform& platform, const std::vector<std::string>& args) {
  static constexpr std::string_view kManage = "--manage";
  std::vector<std::string> files;
  bool manageGiven = false;
  std::string manage;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == kManage) {
      if (i + 1 == args.size()) return Usage(platform, "--manage needs a list of keys");
      manageGiven = true;
      manage = args[++i];
    } else if (arg.rfind(std::string(kManage) + "=", 0) == 0) {
      manageGiven = true;
      manage = arg.substr(kManage.size() + 1);
    } else {
      files.push_back(arg);
    }
  }
  if (files.size() != 2) return Usage(platform, "from-phonebook takes PHONEBOOK and ENTRY");
  const std::string& path = files[0];
  const std::vector<std::string> keys =
      manageGiven ? SplitString(manage, ",", 0, '\0') : DefaultManagedKeys();

  std::unique_ptr<TMemIniFile> phonebook;
  if (!LoadPhonebook(platform, path, phonebook)) return kToolRefused;
  if (!phonebook->Loaded()) {
    Report(platform, path, kAbsentReason);
    return kToolRefused;
  }
  const EntryTemplate made = TemplateFromEntry(platform, *phonebook, files[1], keys);
  if (!ReportProblems(platform, path, made.problems, "no template made")) return kToolRefused;
  WriteLines(platform, made.text);
  return kToolSuccess;
}

}  // namespace

int RunTemplateTool(Platform& platform, const std::vector<std::string>& args) {
  if (args.empty()) return Usage(platform, "no command given");
  const std::string& command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "--help" || command == "-h" || command == "help") {
    WriteLines(platform, Help());
    return kToolSuccess;
  }
  if (command == "check") return Check(platform, rest);
  if (command == "stamp") return Stamp(platform, rest);
  if (command == "from-phonebook") return FromPhonebook(platform, rest);
  return Usage(platform, "unknown command \"" + command + "\"");
}

}  // namespace lw
