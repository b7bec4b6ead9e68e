#include "ini/line_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lw {
namespace {

// `prefix` and the number (GCC 12 warns wrongly of "..." + std::to_string).
std::string Numbered(std::string prefix, int number) {
  return prefix += std::to_string(number);
}

// Every run as "[name]" CR LF, then its lines as EmitLines gives them.
std::string Shown(const LineStore& store) {
  std::string shown;
  for (std::size_t r = 0; r < store.RunCount(); ++r) {
    const LineStore::Run& run = store.RunAt(r);
    shown.append("[").append(store.View(run.name)).append("]\r\n");
    const std::size_t before = shown.size();
    store.EmitLines(run, [&shown](std::string_view piece) { shown += piece; });
    EXPECT_EQ(shown.size() - before, store.LinesSize(run));
  }
  return shown;
}

TEST(LineStoreTest, EmitsLinesOfTheTextInOnePieceOnlyWhereCrLfJoinsThem) {
  const auto text = std::make_shared<const std::string>("a\r\nb\r\nc\n\nd\r\n\r\ne");
  const std::string_view t = *text;
  const struct {
    std::vector<std::string_view> lines;  // views of the text, or other bytes to add
    std::vector<std::string> pieces;
  } cases[] = {
      {{t.substr(0, 1), t.substr(3, 1), t.substr(6, 1)}, {"a\r\nb\r\nc", "\r\n"}},
      {{t.substr(6, 1), t.substr(9, 1)}, {"c", "\r\n", "d", "\r\n"}},  // LF LF between
      {{t.substr(0, 1), t.substr(6, 1)}, {"a", "\r\n", "c", "\r\n"}},  // a line left out
      {{t.substr(3, 1), t.substr(0, 1)}, {"b", "\r\n", "a", "\r\n"}},  // out of order
      {{t.substr(9, 1), t.substr(12, 0), t.substr(14, 1)}, {"d\r\n\r\ne", "\r\n"}},
      {{t.substr(0, 1), "b", t.substr(6, 1)}, {"a", "\r\n", "b", "\r\n", "c", "\r\n"}},
  };
  for (const auto& c : cases) {
    LineStore store;
    store.Reset(text);
    store.AppendRun(store.Add("S"));
    for (const std::string_view line : c.lines) {
      const bool inText = line.data() >= t.data() && line.data() < t.data() + t.size();
      store.AppendLine(0, inText ? store.OfText(line) : store.Add(line));
    }
    std::vector<std::string> pieces;
    store.EmitLines(store.RunAt(0), [&](std::string_view piece) { pieces.emplace_back(piece); });
    EXPECT_EQ(pieces, c.pieces) << c.pieces.front();
  }
}

// Plain lists of strings, changed alike; whether each line's bytes were added.
struct ModelLine {
  std::string bytes;
  bool added;
};
using ModelRun = std::pair<std::string, std::vector<ModelLine>>;

std::string Shown(const std::vector<ModelRun>& runs) {
  std::string shown;
  for (const auto& [name, lines] : runs) {
    shown.append("[").append(name).append("]\r\n");
    for (const ModelLine& line : lines) shown.append(line.bytes).append("\r\n");
  }
  return shown;
}

// Runs grow in turns (and so move), lines are replaced and erased, runs go, first mostly
// growing, then mostly shrinking: the store shows what plain lists show, and its holes and
// unused bytes stay within the bounds its packing promises.
TEST(LineStoreTest, MatchesPlainListsAndPacksWhatItNoLongerUses) {
  auto text = std::make_shared<std::string>();
  std::vector<std::pair<std::size_t, std::size_t>> textLines;  // offset, size
  for (int i = 0; i < 3000; ++i) {
    const std::string line = Numbered("t", i);
    textLines.emplace_back(text->size(), line.size());
    text->append(line).append(i % 5 == 0 ? "\n" : "\r\n");
  }
  const std::string_view t = *text;
  LineStore store;
  store.Reset(text);
  std::vector<ModelRun> model;
  std::size_t lineCount = 0;
  std::size_t used = 0;  // added bytes that names and lines show
  std::mt19937 random(20240611);
  const auto pick = [&random](std::size_t count) { return random() % count; };
  std::size_t lastPlaces = 0;
  std::size_t lastAdded = 0;
  bool packedLines = false;
  bool packedAdded = false;

  for (int step = 0; step < 200000; ++step) {
    // Growing first, then shrinking, so that the holes come to outnumber the lines.
    const std::size_t appends = step < 100000 ? 750 : 250;
    if (model.empty() || pick(1000) < 10) {
      const std::string name = Numbered("run ", step);
      store.AppendRun(store.Add(name));
      model.emplace_back(name, std::vector<ModelLine>{});
      used += name.size();
      continue;
    }
    const std::size_t r = pick(model.size());
    std::vector<ModelLine>& lines = model[r].second;
    const std::size_t op = pick(1000);
    const auto j = static_cast<std::uint32_t>(lines.empty() ? 0 : pick(lines.size()));
    const auto unused = [](const ModelLine& line) { return line.added ? line.bytes.size() : 0; };
    if (op < appends || lines.empty()) {
      ++lineCount;
      if (pick(2) == 0) {
        const auto [at, size] = textLines[pick(textLines.size())];
        store.AppendLine(r, store.OfText(t.substr(at, size)));
        lines.push_back({std::string(t.substr(at, size)), false});
      } else {
        const std::string bytes(pick(120), static_cast<char>('a' + step % 26));
        store.AppendLine(r, store.Add(bytes));
        lines.push_back({bytes, true});
        used += bytes.size();
      }
    } else if (op < appends + 100) {
      const std::string bytes = Numbered("replaced ", step) + std::string(pick(200), 'r');
      store.ReplaceLine(r, j, store.Add(bytes));
      used += bytes.size() - unused(lines[j]);
      lines[j] = {bytes, true};
    } else if (op < 998) {
      store.EraseLine(r, j);
      used -= unused(lines[j]);
      --lineCount;
      lines.erase(lines.begin() + j);
    } else {
      store.EraseRun(r);
      used -= model[r].first.size();
      for (const ModelLine& line : lines) used -= unused(line);
      lineCount -= lines.size();
      model.erase(model.begin() + static_cast<std::ptrdiff_t>(r));
    }
    packedLines = packedLines || store.Places() < lastPlaces;
    packedAdded = packedAdded || store.AddedBytes() < lastAdded;
    lastPlaces = store.Places();
    lastAdded = store.AddedBytes();
    ASSERT_LE(store.Places() - lineCount, std::max(LineStore::kSlack, 2 * lineCount + 1)) << step;
    ASSERT_LE(store.AddedBytes() - used, std::max(LineStore::kSlack, used)) << step;
    if (step % 10000 == 0) {
      ASSERT_EQ(Shown(store), Shown(model)) << step;
    }
  }
  EXPECT_EQ(Shown(store), Shown(model));
  EXPECT_TRUE(packedLines);
  EXPECT_TRUE(packedAdded);
}

}  // namespace
}  // namespace lw
