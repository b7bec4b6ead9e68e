#include "lwtemplate/text_diff.h"

#include <algorithm>
#include <cstddef>
#include <unordered_map>

namespace lw {
namespace {

enum class Edit { kKeep, kRemove, kAdd };

// Each shown line as a number, equal lines equal numbers, so that comparing is cheap.
std::vector<int> Numbered(const std::vector<std::string>& lines,
                          std::unordered_map<std::string_view, int>& numbers) {
  std::vector<int> result;
  result.reserve(lines.size());
  for (const std::string& line : lines) {
    result.push_back(numbers.emplace(line, static_cast<int>(numbers.size())).first->second);
  }
  return result;
}

// The shortest edit of `a` into `b` (Myers' greedy search, each round's frontier kept for
// the way back); false when it needs more than `maxEdits` removals and additions.
bool ShortestEdit(const std::vector<int>& a, const std::vector<int>& b, int maxEdits,
                  std::vector<Edit>& script) {
  const int n = static_cast<int>(a.size());
  const int m = static_cast<int>(b.size());
  const int limit = std::min(n + m, maxEdits);
  // frontier[k + limit + 1]: the furthest x reached on diagonal k = x - y.
  std::vector<int> frontier(static_cast<std::size_t>(2 * limit + 3), 0);
  const auto at = [&](int k) -> int& { return frontier[static_cast<std::size_t>(k + limit + 1)]; };
  // rounds[d]: the frontier on diagonals -d-1 .. d+1 before round d.
  std::vector<std::vector<int>> rounds;
  for (int d = 0; d <= limit; ++d) {
    rounds.emplace_back(&at(-d - 1), &at(d + 1) + 1);
    for (int k = -d; k <= d; k += 2) {
      int x = (k == -d || (k != d && at(k - 1) < at(k + 1))) ? at(k + 1) : at(k - 1) + 1;
      int y = x - k;
      while (x < n && y < m && a[static_cast<std::size_t>(x)] == b[static_cast<std::size_t>(y)]) {
        ++x;
        ++y;
      }
      at(k) = x;
      if (x < n || y < m) continue;
      // Found with d edits: walk back through the rounds.
      std::vector<Edit> reversed;
      for (int e = d; e > 0; --e) {
        const std::vector<int>& before = rounds[static_cast<std::size_t>(e)];
        const auto prior = [&](int diagonal) {
          return before[static_cast<std::size_t>(diagonal + e + 1)];
        };
        const int diagonal = x - y;
        const bool added =
            diagonal == -e || (diagonal != e && prior(diagonal - 1) < prior(diagonal + 1));
        const int fromDiagonal = added ? diagonal + 1 : diagonal - 1;
        const int fromX = prior(fromDiagonal);
        const int fromY = fromX - fromDiagonal;
        const int stepX = added ? fromX : fromX + 1;
        for (; x > stepX; --x, --y) reversed.push_back(Edit::kKeep);
        reversed.push_back(added ? Edit::kAdd : Edit::kRemove);
        x = fromX;
        y = fromY;
      }
      for (; x > 0; --x) reversed.push_back(Edit::kKeep);
      script.assign(reversed.rbegin(), reversed.rend());
      return true;
    }
  }
  return false;
}

std::string Range(std::size_t start, std::size_t count) {
  // An empty range names the line before it, as diff writes it.
  return std::to_string(count == 0 ? start : start + 1) + "," + std::to_string(count);
}

}  // namespace

std::vector<std::string> ShownLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(start));
      break;
    }
    std::string line(text.substr(start, end - start));
    if (text[end] == '\n') {
      line += kLfMark;
      start = end + 1;
    } else if (end + 1 < text.size() && text[end + 1] == '\n') {
      line += kCrLfMark;
      start = end + 2;
    } else {
      line += kCrMark;
      start = end + 1;
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

std::vector<std::string> DiffHunks(std::string_view before, std::string_view after) {
  const std::vector<std::string> a = ShownLines(before);
  const std::vector<std::string> b = ShownLines(after);
  // Equal lines at both ends need no search.
  std::size_t head = 0;
  while (head < a.size() && head < b.size() && a[head] == b[head]) ++head;
  std::size_t tail = 0;
  while (tail < a.size() - head && tail < b.size() - head &&
         a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
    ++tail;
  }
  std::unordered_map<std::string_view, int> numbers;
  const std::vector<std::string> middleA(a.begin() + static_cast<std::ptrdiff_t>(head),
                                         a.end() - static_cast<std::ptrdiff_t>(tail));
  const std::vector<std::string> middleB(b.begin() + static_cast<std::ptrdiff_t>(head),
                                         b.end() - static_cast<std::ptrdiff_t>(tail));
  std::vector<Edit> middle;
  if (!ShortestEdit(Numbered(middleA, numbers), Numbered(middleB, numbers), kMaxDiffEdits,
                    middle)) {
    middle.assign(middleA.size(), Edit::kRemove);
    middle.insert(middle.end(), middleB.size(), Edit::kAdd);
  }
  std::vector<Edit> script(head, Edit::kKeep);
  script.insert(script.end(), middle.begin(), middle.end());
  script.insert(script.end(), tail, Edit::kKeep);

  // Hunks: each change with three kept lines around it; changes closer than that share one.
  static constexpr std::size_t kContext = 3;
  std::vector<std::string> hunks;
  std::size_t i = 0;
  std::size_t lineA = 0;  // lines of `a` and `b` before script[i]
  std::size_t lineB = 0;
  while (i < script.size()) {
    if (script[i] == Edit::kKeep) {
      ++i;
      ++lineA;
      ++lineB;
      continue;
    }
    // Back up over the context, then take changes until kContext * 2 kept lines follow one.
    const std::size_t back = std::min({kContext, lineA, lineB, i});
    std::size_t start = i - back;
    std::size_t startA = lineA - back;
    std::size_t startB = lineB - back;
    std::size_t end = i;
    std::size_t kept = 0;
    for (std::size_t j = i; j < script.size(); ++j) {
      if (script[j] != Edit::kKeep) {
        kept = 0;
        end = j + 1;
      } else if (++kept > 2 * kContext) {
        break;
      }
    }
    end = std::min(script.size(), end + kContext);
    std::vector<std::string> body;
    std::size_t countA = 0;
    std::size_t countB = 0;
    for (std::size_t j = start, x = startA, y = startB; j < end; ++j) {
      switch (script[j]) {
        case Edit::kKeep:
          body.push_back(" " + a[x++]);
          ++y;
          ++countA;
          ++countB;
          break;
        case Edit::kRemove:
          body.push_back("-" + a[x++]);
          ++countA;
          break;
        case Edit::kAdd:
          body.push_back("+" + b[y++]);
          ++countB;
          break;
      }
    }
    hunks.push_back("@@ -" + Range(startA, countA) + " +" + Range(startB, countB) + " @@");
    hunks.insert(hunks.end(), body.begin(), body.end());
    i = end;
    lineA = startA + countA;
    lineB = startB + countB;
  }
  return hunks;
}

}  // namespace lw
