// Timing of the INI document on generated phonebooks of 10, 1,000 and 10,000 entries,
// each a copy of a real Windows VPN entry (140 keys, blank lines between its groups).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ini/mem_ini_file.h"
#include "ini/string_list.h"
#include "platform/system_platform.h"

namespace lw {
namespace {

// The first entry of the sample, lines without their breaks.
std::vector<std::string> SampleEntry() {
  std::ifstream in(std::string(LW_SOURCE_DIR) + "/tests/data/six-vpn-entries.pbk",
                   std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    std::string line = text.substr(start, end - start);
    start = end == std::string::npos ? text.size() : end + 1;
    if (!lines.empty() && !line.empty() && line.front() == '[') break;
    lines.push_back(std::move(line));
  }
  return lines;
}

// The running system's platform, for its ANSI upper-casing.
Platform& System() {
  static char name[] = "ini_bench";
  static char* argv[] = {name, nullptr};
  static const std::unique_ptr<Platform> platform = CreateSystemPlatform(1, argv);
  return *platform;
}

// A phonebook of `entries` copies of the sample entry, with CR LF breaks as Windows writes
// them. Each is named and dialled "vpn<i>.example.net", or "site<i>" for `shortNames`: the
// shared suffix leaves the low bits of HashKey to few values, so the section list's chains
// grow long.
const std::string& Phonebook(int entries, bool shortNames = false) {
  static std::map<std::pair<int, bool>, std::string> cache;
  std::string& text = cache[{entries, shortNames}];
  if (!text.empty()) return text;
  const std::vector<std::string> entry = SampleEntry();
  for (int i = 0; i < entries; ++i) {
    const std::string name =
        shortNames ? "site" + std::to_string(i) : "vpn" + std::to_string(i) + ".example.net";
    text += "[" + name + "]\r\n";
    for (std::size_t j = 1; j < entry.size(); ++j) {
      text += entry[j].rfind("PhoneNumber=", 0) == 0 ? "PhoneNumber=" + name : entry[j];
      text += "\r\n";
    }
  }
  return text;
}

constexpr const char* kAssignments[][2] = {
    {"UseRasCredentials", "0"},  {"SwCompression", "1"},     {"PreviewDomain", "0"},
    {"AutoLogon", "0"},          {"ExcludedProtocols", "8"}, {"IpDnsSuffix", "corp.example.net"},
    {"IpPrioritizeRemote", "0"}, {"IpDnsFlags", "1"},
};

std::size_t LookUpEveryPhoneNumber(const TMemIniFile& doc, TStringList& names) {
  doc.GetSectionNames(names);
  std::size_t found = 0;
  for (const std::string_view name : names) found += doc.GetValue(name, "PhoneNumber", "").size();
  return found;
}

void SetEveryTenthEntry(TMemIniFile& doc, const TStringList& names) {
  for (int i = 0; i < names.Count(); i += 10) {
    for (const auto& assignment : kAssignments)
      doc.SetValue(names[i], assignment[0], assignment[1]);
  }
}

void Report(benchmark::State& state, const std::string& text) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
  state.counters["entries"] = static_cast<double>(state.range(0));
}

// Baseline: the bytes copied in and copied out again, as a read and a write would.
void BM_CopyBytes(benchmark::State& state) {
  const std::string& text = Phonebook(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::string in(text);
    std::string out(in);
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, text);
}

void BM_Parse(benchmark::State& state) {
  const std::string& text = Phonebook(static_cast<int>(state.range(0)));
  Platform& platform = System();
  for (auto _ : state) {
    TMemIniFile doc(platform, "");
    doc.LoadText(text);
    benchmark::DoNotOptimize(&doc);
  }
  Report(state, text);
}

// Lookups on a parsed document whose indexes are built already.
void BM_LookupPhoneNumbers(benchmark::State& state) {
  const std::string& text = Phonebook(static_cast<int>(state.range(0)));
  Platform& platform = System();
  TMemIniFile doc(platform, "");
  doc.LoadText(text);
  TStringList names;
  for (auto _ : state) benchmark::DoNotOptimize(LookUpEveryPhoneNumber(doc, names));
  Report(state, text);
}

void BM_Save(benchmark::State& state) {
  const std::string& text = Phonebook(static_cast<int>(state.range(0)));
  Platform& platform = System();
  TMemIniFile doc(platform, "");
  doc.LoadText(text);
  for (auto _ : state) benchmark::DoNotOptimize(doc.SaveText());
  Report(state, text);
}

// The whole run on one phonebook: parse, a PhoneNumber lookup in every entry (each
// section's index built on first use), eight SetValue calls on every tenth entry, save.
void RoundTrip(benchmark::State& state, bool shortNames) {
  const std::string& text = Phonebook(static_cast<int>(state.range(0)), shortNames);
  Platform& platform = System();
  TStringList names;
  for (auto _ : state) {
    TMemIniFile doc(platform, "");
    doc.LoadText(text);
    benchmark::DoNotOptimize(LookUpEveryPhoneNumber(doc, names));
    SetEveryTenthEntry(doc, names);
    benchmark::DoNotOptimize(doc.SaveText());
  }
  Report(state, text);
}

void BM_RoundTrip(benchmark::State& state) {
  RoundTrip(state, false);
}
void BM_RoundTripShortNames(benchmark::State& state) {
  RoundTrip(state, true);
}

#define LW_SIZES ->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond)
BENCHMARK(BM_CopyBytes) LW_SIZES;
BENCHMARK(BM_Parse) LW_SIZES;
BENCHMARK(BM_LookupPhoneNumbers) LW_SIZES;
BENCHMARK(BM_Save) LW_SIZES;
BENCHMARK(BM_RoundTrip) LW_SIZES;
BENCHMARK(BM_RoundTripShortNames) LW_SIZES;

}  // namespace
}  // namespace lw

BENCHMARK_MAIN();
