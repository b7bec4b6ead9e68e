// pbk-bench [--copy] IN OUT: the tool's work on one phonebook, and nothing else.
//
// Loads the embedded template, opens IN, probes it, runs the pass with creation and writes
// the saved phonebook (the bytes SaveFile writes) safely to OUT, exactly as a run does but
// without pauses or log lines. --copy does the baseline instead: reads IN and writes the
// same bytes to OUT the same safe way. Nothing is done before or after, so the whole
// process can be timed against other programs; the time inside is printed too.
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "ini/mem_ini_file.h"
#include "ini/text_file.h"
#include "platform/system_platform.h"
#include "provisioning/pass.h"
#include "provisioning/probe.h"
#include "provisioning/template.h"
#include "support/log.h"

namespace {

using Clock = std::chrono::steady_clock;

// The bytes to write, and when the work that made them ended.
struct Done {
  std::string bytes;
  Clock::time_point at;
};

Done Provision(lw::Platform& platform, const std::string& in) {
  lw::Log log(platform, /*quiet=*/true);
  lw::TMemIniFile templ(platform, "");
  lw::LoadTemplate(platform, templ);
  lw::TMemIniFile phonebook(platform, in);
  const bool create = !lw::ProbeExistingEntries(log, templ, phonebook);
  lw::ProcessPhonebook(log, templ, phonebook, create, {});
  if (log.ErrorLogged()) throw std::runtime_error("an error line was logged");
  std::string saved = phonebook.SaveText();
  return {std::move(saved), Clock::now()};
}

Done Copy(lw::Platform& platform, const std::string& in) {
  std::string bytes = lw::ReadTextFile(platform, in);
  return {std::move(bytes), Clock::now()};
}

double Milliseconds(Clock::duration span) {
  return std::chrono::duration<double, std::milli>(span).count();
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  const bool copyOnly = argc > 1 && std::string_view(argv[1]) == "--copy";
  if (copyOnly) ++first;
  if (argc - first != 2) {
    std::fprintf(stderr, "usage: pbk-bench [--copy] IN OUT\n");
    return 2;
  }
  const std::string in = argv[first];
  const std::string out = argv[first + 1];
  try {
    const auto start = Clock::now();
    const auto platform = lw::CreateSystemPlatform(argc, argv);
    const Done done = copyOnly ? Copy(*platform, in) : Provision(*platform, in);
    lw::WriteTextFile(*platform, out, done.bytes);
    const auto end = Clock::now();
    // The safe write's time is mostly the disk's (the flush), so it is shown apart.
    std::printf("%s: %zu bytes in %.2f ms, of which %.2f ms the safe write (%.1f MB/s)\n",
                copyOnly ? "copy" : "provision", done.bytes.size(), Milliseconds(end - start),
                Milliseconds(end - done.at),
                static_cast<double>(done.bytes.size()) / Milliseconds(end - start) / 1e3);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "pbk-bench: %s\n", error.what());
    return 1;
  }
}
