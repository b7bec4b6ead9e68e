// pbk-bench [--copy] PHONEBOOK [OUT]: the tool's work on one phonebook, timed.
//
// Copies PHONEBOOK to OUT (default PHONEBOOK.out), then, on the clock: loads the embedded
// template, opens OUT, probes it, runs the pass with creation and saves it, exactly as a
// run does but without pauses or log lines. --copy times the baseline instead: reading
// the bytes and writing them back the same safe way.
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

#include "ini/mem_ini_file.h"
#include "ini/text_file.h"
#include "platform/system_platform.h"
#include "provisioning/pass.h"
#include "provisioning/probe.h"
#include "provisioning/template.h"
#include "support/log.h"

namespace {

void Provision(lw::Platform& platform, const std::string& path) {
  lw::Log log(platform, /*quiet=*/true);
  lw::TMemIniFile templ(platform, "");
  lw::LoadTemplate(platform, templ);
  lw::TMemIniFile phonebook(platform, path);
  const bool create = !lw::ProbeExistingEntries(log, templ, phonebook);
  lw::ProcessPhonebook(log, templ, phonebook, create, {});
  phonebook.SaveFile();
  if (log.ErrorLogged()) throw std::runtime_error("an error line was logged");
}

void Copy(lw::Platform& platform, const std::string& path) {
  lw::WriteTextFile(platform, path, lw::ReadTextFile(platform, path));
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  const bool copyOnly = argc > 1 && std::string_view(argv[1]) == "--copy";
  if (copyOnly) ++first;
  if (argc - first < 1 || argc - first > 2) {
    std::fprintf(stderr, "usage: pbk-bench [--copy] PHONEBOOK [OUT]\n");
    return 2;
  }
  const std::string input = argv[first];
  const std::string output = argc - first == 2 ? argv[first + 1] : input + ".out";
  try {
    const auto platform = lw::CreateSystemPlatform(argc, argv);
    std::size_t size = 0;
    {
      // Freed before the clock starts, so that peak memory is the work's own.
      const std::string bytes = lw::ReadTextFile(*platform, input);
      lw::WriteTextFile(*platform, output, bytes);
      size = bytes.size();
    }

    const auto start = std::chrono::steady_clock::now();
    if (copyOnly) {
      Copy(*platform, output);
    } else {
      Provision(*platform, output);
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const double seconds = elapsed.count();
    std::printf("%s %zu bytes in %.1f ms (%.1f MB/s)\n", copyOnly ? "copy" : "provision", size,
                seconds * 1e3, static_cast<double>(size) / seconds / 1e6);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "pbk-bench: %s\n", error.what());
    return 1;
  }
}
