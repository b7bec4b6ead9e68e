#include "platform/ascii_case.h"

#include <gtest/gtest.h>

#include <string>

namespace lw {
namespace {

TEST(AsciiCase, OnlyTheLettersAToZMove) {
  // The bytes next to each end of both letter ranges, and code-page letters.
  const struct {
    char byte;
    char upper;
    char lower;
  } cases[] = {
      {'@', '@', '@'},          {'A', 'A', 'a'},          {'Z', 'Z', 'z'},
      {'[', '[', '['},          {'`', '`', '`'},          {'a', 'A', 'a'},
      {'z', 'Z', 'z'},          {'{', '{', '{'},          {'\0', '\0', '\0'},
      {'\xC4', '\xC4', '\xC4'}, {'\xE4', '\xE4', '\xE4'}, {'\xFF', '\xFF', '\xFF'},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AsciiUpper(c.byte), c.upper) << int{static_cast<unsigned char>(c.byte)};
    EXPECT_EQ(AsciiLower(c.byte), c.lower) << int{static_cast<unsigned char>(c.byte)};
  }
  std::string bytes = "aZ{\xE4q`@m";
  AsciiUpperInPlace(bytes.data(), 6);
  EXPECT_EQ(bytes, "AZ{\xE4Q`@m");
}

TEST(AsciiCase, EqualIgnoringAsciiCase) {
  const struct {
    const char* a;
    const char* b;
    bool equal;
  } cases[] = {
      {"", "", true},           {"IpPrioritizeRemote", "IPPRIORITIZEREMOTE", true},
      {"x.EXE", "X.exe", true}, {"abc", "abcd", false},
      {"abcd", "abc", false},   {"a", "b", false},
      {"@", "`", false},  // 0x40 and 0x60 differ by the case bit but are no letters
      {"[", "{", false},        {"\xC4", "\xE4", false},  // code-page letters are not folded here
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EqualIgnoringAsciiCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
  }
}

}  // namespace
}  // namespace lw
