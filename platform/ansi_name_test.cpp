#include "platform/ansi_name.h"

#include <map>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace lw {
namespace {

// A code page that holds the first 256 characters, one byte each.
std::optional<std::string> Latin1(std::u16string_view text) {
  std::string bytes;
  for (const char16_t c : text) {
    if (c > 0xFF) return std::nullopt;
    bytes += static_cast<char>(c);
  }
  return bytes;
}

TEST(AnsiFolderName, OwnNameElseShortNameElseRefused) {
  const std::map<std::u16string, std::u16string> shortNames = {
      {u"C:\\Users\\\u0141\u00f3d\u017a", u"C:\\Users\\ODZ~1"},
      {u"D:\\\u0141\u00f3d\u017a", u"D:\\\u0141\u00f3d\u017a"},  // no 8.3 names on D:
      {u"C:\\\u0416\u0443\u043a", u"C:\\\u0416~1"},
      {u"C:\\caf\u00e9", u"C:\\CAF~1"},
  };
  const struct {
    std::u16string value;
    std::string ansi;  // empty: refused
    bool asksShortName;
  } cases[] = {
      {u"C:\\Users\\ann", "C:\\Users\\ann", false},
      {u"C:\\caf\u00e9", "C:\\caf\xe9", false},  // exact beats short
      {u"C:\\Users\\\u0141\u00f3d\u017a", "C:\\Users\\ODZ~1", true},
      {u"D:\\\u0141\u00f3d\u017a", "", true},  // short name is the long one
      {u"C:\\\u0416\u0443\u043a", "", true},   // short name not exact either
      {u"C:\\Missing\\\u017c", "", true},      // no folder, no short name
  };
  for (const auto& c : cases) {
    int shortCalls = 0;
    const ShortPathLookup shortPath =
        [&](std::u16string_view path) -> std::optional<std::u16string> {
      ++shortCalls;
      const auto found = shortNames.find(std::u16string(path));
      if (found == shortNames.end()) return std::nullopt;
      return found->second;
    };
    std::string ansi = "stale";
    const SysError error = AnsiFolderName(c.value, Latin1, shortPath, ansi);
    EXPECT_EQ(error, c.ansi.empty() ? kErrorNotInCodePage : 0u) << c.ansi;
    EXPECT_EQ(ansi, c.ansi);
    EXPECT_EQ(shortCalls, c.asksShortName ? 1 : 0) << c.ansi;
  }
}

TEST(AnsiFolderName, EmptyValueIsEmpty) {
  std::string ansi = "stale";
  EXPECT_EQ(AnsiFolderName(
                u"", Latin1, [](std::u16string_view) { return std::nullopt; }, ansi),
            0u);
  EXPECT_EQ(ansi, "");
}

}  // namespace
}  // namespace lw
