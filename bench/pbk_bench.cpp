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

#include "ini/mem_ini_file.h"
#include "ini/text_file.h"
#include "platform/system_platform.h"
#include "provisioning/pass.h"
#include "provisioning/probe.h"
#include "provisioning/template.h"
#include "support/log.h"

namespace {

// Returns the size of the phonebook read.
std::size_t Provision(lw::Platform& platform, const std::string& in, const std::string& out) {
  lw::Log log(platform, /*quiet=*/true);
  lw::TMemIniFile templ(platform, "");
  lw::LoadTemplate(platform, templ);
  lw::TMemIniFile phonebook(platform, in);
  const bool create = !lw::ProbeExistingEntries(log, templ, phonebook);
  lw::ProcessPhonebook(log, templ, phonebook, create, {});
  const std::string saved = phonebook.SaveText();
  lw::WriteTextFile(platform, out, saved);
  if (log.ErrorLogged()) throw std::runtime_error("an error line was logged");
  return saved.size();
}

std::size_t Copy(lw::Platform& platform, const std::string& in, const std::string& out) {
  const std::string bytes = lw::ReadTextFile(platform, in);
  lw::WriteTextFile(platform, out, bytes);
  return bytes.size();
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
    const auto start = std::chrono::steady_clock::now();
    const auto platform = lw::CreateSystemPlatform(argc, argv);
    const std::size_t size = copyOnly ? Copy(*platform, in, out) : Provision(*platform, in, out);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const double seconds = elapsed.count();
    std::printf("%s: %zu bytes written in %.1f ms (%.1f MB/s)\n", copyOnly ? "copy" : "provision",
                size, seconds * 1e3, static_cast<double>(size) / seconds / 1e6);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "pbk-bench: %s\n", error.what());
    return 1;
  }
}
