#include "ini/string_list.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lw {
namespace {

using namespace std::string_literals;
using Lines = std::vector<std::string>;

Lines Split(std::string_view text) {
  TStringList list;
  list.SplitText(text);
  return Lines(list.begin(), list.end());
}

TEST(StringListTest, SplitTextCutsAtEveryKindOfBreak) {
  const struct {
    std::string text;
    Lines lines;
  } cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\n", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"a\rb\nc\r\nd", {"a", "b", "c", "d"}},
      {"a\n\rb", {"a", "", "b"}},
      {"a\r\r\nb", {"a", "", "b"}},
      {"\r\n\n", {"", ""}},
      {"a\0b\r\nc"s, {"a"}},
      {"\0a"s, {}},
      {" \t a \x01\r\n", {" \t a \x01"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Split(c.text), c.lines) << c.text;
}

TEST(StringListTest, JoinLinesEndsEveryLineWithCrLf) {
  TStringList list;
  EXPECT_EQ(list.JoinLines(), "");
  list.SplitText("a\nb\r\rc");
  EXPECT_EQ(list.JoinLines(), "a\r\nb\r\n\r\nc\r\n");
}

TEST(StringListTest, ChangesAndLinearLookups) {
  TStringList list;
  for (const char* line : {"k=1", "plain", "K=2", "x=k", "PLAIN"}) list.Add(line);
  EXPECT_EQ(list.FindName("k"), 2);
  EXPECT_EQ(list.FindName("plain"), -1);
  EXPECT_EQ(list.FindLine("plain"), 4);
  EXPECT_EQ(list.FindLine("k"), -1);
  list.Put(2, "j=2");
  list.Delete(4);
  EXPECT_EQ(list.FindName("K"), 0);
  EXPECT_EQ(list.FindLine("PLAIN"), 1);
  EXPECT_EQ(Lines(list.begin(), list.end()), (Lines{"k=1", "plain", "j=2", "x=k"}));
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

TEST(StringListTest, ReplacedCopiesAreReclaimedWithoutMovingBorrowedLines) {
  const std::string borrowed = "borrowed=1";
  TStringList list;
  Lines model;
  for (int i = 0; i < 100; ++i) {
    list.Add("line" + std::to_string(i));
    model.push_back("line" + std::to_string(i));
  }
  list.AddBorrowed(borrowed);
  model.push_back(borrowed);
  // Far more replaced bytes than live ones: the arena is copied afresh several times.
  for (int i = 0; i < 20000; ++i) {
    const int at = (i * 37) % 100;
    const std::string line(static_cast<std::size_t>(50 + i % 100), static_cast<char>('a' + i % 26));
    list.Put(at, line);
    model[static_cast<std::size_t>(at)] = line;
    if (i % 7 == 0) {
      list.Put(at, list[(at + 1) % 100]);  // a copy of its own bytes
      model[static_cast<std::size_t>(at)] = model[static_cast<std::size_t>((at + 1) % 100)];
    }
  }
  list.Delete(3);
  model.erase(model.begin() + 3);
  EXPECT_EQ(Lines(list.begin(), list.end()), model);
  EXPECT_EQ(list[list.Count() - 1].data(), borrowed.data());
  // A list split from its own text.
  list.SplitText(list.JoinLines());
  EXPECT_EQ(Lines(list.begin(), list.end()), model);
}

TEST(StringListTest, BorrowedLinesAreCopiedOnReplace) {
  std::string text = "alpha\nbeta";
  TStringList list;
  list.AddBorrowed(std::string_view(text).substr(0, 5));
  list.Add(std::string_view(text).substr(6));
  EXPECT_EQ(list[0], "alpha");
  EXPECT_EQ(list[0].data(), text.data());  // not copied
  {
    std::string replacement = "gamma";
    list.Put(0, replacement);
  }
  text.assign(text.size(), '#');
  EXPECT_EQ(list[0], "gamma");
  EXPECT_EQ(list[1], "beta");
  TStringList moved = std::move(list);
  moved.Delete(0);
  ASSERT_EQ(moved.Count(), 1);
  EXPECT_EQ(moved[0], "beta");
  moved.Add("");
  EXPECT_EQ(moved[1], "");
  EXPECT_EQ(moved.JoinLines(), "beta\r\n\r\n");
}

}  // namespace
}  // namespace lw
