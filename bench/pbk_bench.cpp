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

// Bytes written, and when the work before the safe write ended.
struct Done {
  std::size_t size = 0;
  Clock::time_point at;
};

// Counts what passes to the file.
class CountingSink final : public lw::TextSink {
 public:
  explicit CountingSink(lw::TextSink& to) : to_(to) {}
  void Append(std::string_view bytes) override {
    size_ += bytes.size();
    to_.Append(bytes);
  }
  std::size_t Size() const { return size_; }

 private:
  lw::TextSink& to_;
  std::size_t size_ = 0;
};

// The phonebook is written to OUT as SaveFile writes it to its own name: from the pieces.
Done Provision(lw::Platform& platform, const std::string& in, const std::string& out) {
  lw::Log log(platform, /*quiet=*/true);
  lw::TMemIniFile templ(platform, "");
  lw::LoadTemplate(platform, templ);
  lw::TMemIniFile phonebook(platform, in);
  const bool create = !lw::ProbeExistingEntries(log, templ, phonebook);
  lw::ProcessPhonebook(log, templ, phonebook, create, {});
  if (log.ErrorLogged()) throw std::runtime_error("an error line was logged");
  Done done{0, Clock::now()};
  lw::WriteTextFile(platform, out, lw::ExpectedFile{}, [&](lw::TextSink& sink) {
    CountingSink counted(sink);
    phonebook.SaveTo(counted);
    done.size = counted.Size();
  });
  return done;
}

Done Copy(lw::Platform& platform, const std::string& in, const std::string& out) {
  const std::string bytes = lw::ReadTextFile(platform, in);
  const Done done{bytes.size(), Clock::now()};
  lw::WriteTextFile(platform, out, bytes);
  return done;
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
    const Done done = copyOnly ? Copy(*platform, in, out) : Provision(*platform, in, out);
    const auto end = Clock::now();
    // The safe write's time is mostly the disk's (the flush), so it is shown apart.
    std::printf("%s: %zu bytes in %.2f ms, of which %.2f ms the safe write (%.1f MB/s)\n",
                copyOnly ? "copy" : "provision", done.size, Milliseconds(end - start),
                Milliseconds(end - done.at),
                static_cast<double>(done.size) / Milliseconds(end - start) / 1e3);
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "pbk-bench: %s\n", error.what());
    return 1;
  }
}
