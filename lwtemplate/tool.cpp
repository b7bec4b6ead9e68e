#include "lwtemplate/tool.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "app/provisioning_run.h"
#include "app/startup.h"
#include "ini/mem_ini_file.h"
#include "ini/text_file.h"
#include "ini/text_lines.h"
#include "lwtemplate/entry_template.h"
#include "lwtemplate/file_bytes.h"
#include "lwtemplate/plan.h"
#include "lwtemplate/stamp.h"
#include "lwtemplate/text_diff.h"
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

constexpr std::string_view kOutput = "--output";

constexpr std::string_view kUsage =
    "usage: lwtemplate check TEMPLATE\n"
    "       lwtemplate stamp TEMPLATE IN.exe OUT.exe\n"
    "       lwtemplate from-phonebook PHONEBOOK ENTRY [--manage KEY,KEY,...]\n"
    "       lwtemplate show EXE [--output FILE]\n"
    "       lwtemplate plan EXE|TEMPLATE PHONEBOOK... [/u] [/l] [/g] [--output FILE]\n"
    "       lwtemplate --help | --version\n";

std::string Help() {
  std::string keys;
  for (const std::string& key : DefaultManagedKeys()) keys += (keys.empty() ? "" : ",") + key;
  return std::string(kUsage) +
         "\n"
         "Provisioning templates for vpnsetup.exe, Linkwright " LW_RELEASE_VERSION
         ".\n"
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
         "show EXE [--output FILE]\n"
         "    What vpnsetup.exe EXE carries: its build (32- or 64-bit), its file version,\n"
         "    whether it is signed, the room its template uses, then the template. With\n"
         "    --output, FILE gets the template byte for byte.\n"
         "plan EXE|TEMPLATE PHONEBOOK... [/u] [/l] [/g] [--output FILE]\n"
         "    What a per-user run of EXE (or of vpnsetup.exe carrying TEMPLATE) with these\n"
         "    switches would do to each PHONEBOOK (a copy of a user's rasphone.pbk): the\n"
         "    lines the run prints for it, then a unified diff of its text (each line's\n"
         "    end shown as <CR><LF>, <LF> or <CR>), or \"unchanged\". The run's own\n"
         "    pre-check and pass work on the phonebook in memory; nothing is written but\n"
         "    FILE, which gets the text the run would write (one PHONEBOOK only).\n"
         "\n"
         "Exit status: 0 on success, 2 when anything is refused. plan: 0 when nothing\n"
         "would change, 1 when a phonebook would change, 2 when anything is refused or\n"
         "the run would log an error.\n";
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

// Takes every "--NAME VALUE" and "--NAME=VALUE" out of `args` (the last one counts); false
// when the last argument is --NAME without its value.
bool TakeOption(std::vector<std::string>& args, std::string_view name,
                std::optional<std::string>& value) {
  std::vector<std::string> rest;
  const std::string prefix = std::string(name) + "=";
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == name) {
      if (i + 1 == args.size()) return false;
      value = args[++i];
    } else if (args[i].rfind(prefix, 0) == 0) {
      value = args[i].substr(prefix.size());
    } else {
      rest.push_back(args[i]);
    }
  }
  args = std::move(rest);
  return true;
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
  std::vector<std::string> files(args);
  std::optional<std::string> manage;
  if (!TakeOption(files, "--manage", manage)) {
    return Usage(platform, "--manage needs a list of keys");
  }
  if (files.size() != 2) return Usage(platform, "from-phonebook takes PHONEBOOK and ENTRY");
  const std::string& path = files[0];
  const std::vector<std::string> keys =
      manage ? SplitString(*manage, ",", 0, '\0') : DefaultManagedKeys();

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

// The bytes of an executable given on the command line; reports and returns false when
// they cannot be read or are not a vpnsetup.exe.
bool ReadExecutable(Platform& platform, const std::string& path, std::string& exe,
                    ExecutableInfo& info) {
  try {
    exe = ReadFileBytes(path, kMaxExecutableBytes);
    info = InspectExecutable(exe);
    return true;
  } catch (const Exception& error) {
    Report(platform, path, error.Message());
    return false;
  }
}

// Writes `bytes` to `path`; reports and returns false when that fails.
bool WriteOutput(Platform& platform, const std::string& path, std::string_view bytes) {
  try {
    WriteTextFile(platform, path, bytes);
    return true;
  } catch (const Exception& error) {
    Report(platform, path, error.Message());
    return false;
  }
}

int Show(Platform& platform, const std::vector<std::string>& args) {
  std::vector<std::string> files(args);
  std::optional<std::string> output;
  if (!TakeOption(files, kOutput, output)) return Usage(platform, "--output needs a file name");
  if (files.size() != 1) return Usage(platform, "show takes one file: EXE");
  const std::string& path = files[0];
  std::string exe;
  ExecutableInfo info;
  if (!ReadExecutable(platform, path, exe, info)) return kToolRefused;
  if (output && SameFile(platform, path, *output)) {
    Report(platform, *output, "is EXE itself: name another file for the template");
    return kToolRefused;
  }
  const std::size_t used = info.templ.size();
  const std::size_t room = info.room.capacity;
  platform.WriteLine("file: " + path);
  platform.WriteLine(std::string("build: ") +
                     (info.room.is64Bit ? "64-bit (x64)" : "32-bit (x86)"));
  platform.WriteLine("version: " + (info.fileVersion.empty() ? "none" : info.fileVersion));
  platform.WriteLine(std::string("signed: ") +
                     (info.isSigned ? "yes (not verified here: signtool verify /pa, or "
                                      "osslsigncode verify)"
                                    : "no"));
  platform.WriteLine("template: " + std::to_string(used) + " of " + std::to_string(room) +
                     " bytes (" + std::to_string(room == 0 ? 0 : (used * 100 + room / 2) / room) +
                     "%)");
  if (output && !WriteOutput(platform, *output, info.templ)) return kToolRefused;
  platform.WriteLine("");
  WriteLines(platform, info.templ);
  return kToolSuccess;
}

// The plan's diff of one phonebook, or why there is none.
void ShowChange(Platform& platform, const std::string& path, const PhonebookPlan& plan) {
  if (!plan.kept) {
    platform.WriteLine("unchanged: no phonebook, and the run creates none");
    return;
  }
  if (!plan.written) {
    platform.WriteLine("unchanged");
    return;
  }
  platform.WriteLine("--- " + path + (plan.existed ? "" : " (not there)"));
  platform.WriteLine("+++ " + path + " (after the run)");
  const std::vector<std::string> hunks = DiffHunks(plan.before, plan.after);
  if (hunks.empty()) platform.WriteLine("(created empty)");
  for (const std::string& line : hunks) platform.WriteLine(line);
}

int Plan(Platform& platform, const std::vector<std::string>& args) {
  std::vector<std::string> files(args);
  std::optional<std::string> output;
  if (!TakeOption(files, kOutput, output)) return Usage(platform, "--output needs a file name");
  // The switches the run reads; the ones that need an administrator plan nothing here.
  RunFlags flags;
  std::vector<std::string> rest;
  for (const std::string& arg : files) {
    if (ApplyPlainSwitch(arg, flags)) continue;
    if (arg == "/a" || arg == "/r" || arg == "/R" || arg == "/?") {
      return Usage(platform,
                   "plan shows a per-user run, with /u, /l and /g; " + arg + " is not planned");
    }
    rest.push_back(arg);
  }
  if (rest.size() < 2) return Usage(platform, "plan takes EXE or TEMPLATE, then PHONEBOOK...");
  if (output && rest.size() != 2) return Usage(platform, "--output takes one PHONEBOOK");
  const std::string& source = rest[0];
  const std::vector<std::string> phonebooks(rest.begin() + 1, rest.end());
  if (output) {
    for (const std::string& other : rest) {
      if (!SameFile(platform, other, *output)) continue;
      Report(platform, *output, "is " + other + " itself: name a new file for the text");
      return kToolRefused;
    }
  }

  std::string bytes;
  try {
    bytes = ReadFileBytes(source, kMaxExecutableBytes);
  } catch (const Exception& error) {
    Report(platform, source, error.Message());
    return kToolRefused;
  }
  std::string templBytes;
  Log log(platform);
  if (bytes.substr(0, 2) == "MZ") {
    ExecutableInfo info;
    try {
      info = InspectExecutable(bytes);
    } catch (const Exception& error) {
      Report(platform, source, error.Message());
      return kToolRefused;
    }
    templBytes = info.templ;
    // Its file name chooses modes too, as it does for the run.
    flags.ExeName = ExeNameOf(platform, source);
    if (NameAsksForAllUsers(flags.ExeName)) {
      Report(platform, source,
             "its name asks for all-users mode (\"admin\"), which plan does not show: plan "
             "a copy under another name");
      return kToolRefused;
    }
    ApplyNameModes(flags, log);
  } else if (ReportProblems(platform, source, CheckTemplateText(platform, bytes),
                            "template refused")) {
    templBytes = std::move(bytes);
  } else {
    return kToolRefused;
  }
  TMemIniFile templ(platform, "");
  LoadTemplateText(templ, templBytes);

  int status = kToolSuccess;
  for (std::size_t i = 0; i < phonebooks.size(); ++i) {
    if (i != 0) platform.WriteLine("");
    Log phonebookLog(platform);
    const PhonebookPlan plan =
        PlanUserPhonebook(platform, phonebookLog, templ, phonebooks[i], flags);
    if (!plan.stopped) ShowChange(platform, phonebooks[i], plan);
    if (phonebookLog.ErrorLogged()) {
      status = kToolRefused;
    } else if (plan.written && status == kToolSuccess) {
      status = kToolChanges;
    }
    if (!output || plan.stopped) continue;
    if (!plan.kept) {
      Report(platform, *output, "not written: no phonebook stands there after the run");
    } else if (!WriteOutput(platform, *output, plan.after)) {
      status = kToolRefused;
    }
  }
  return status;
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
  if (command == "--version") {
    platform.WriteLine("lwtemplate " LW_RELEASE_VERSION " (Linkwright)");
    return kToolSuccess;
  }
  if (command == "check") return Check(platform, rest);
  if (command == "stamp") return Stamp(platform, rest);
  if (command == "from-phonebook") return FromPhonebook(platform, rest);
  if (command == "show") return Show(platform, rest);
  if (command == "plan") return Plan(platform, rest);
  return Usage(platform, "unknown command \"" + command + "\"");
}

}  // namespace lw
