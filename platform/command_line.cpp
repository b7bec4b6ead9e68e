#include "platform/command_line.h"

#include <cstddef>
#include <utility>

#include "platform/text_before_nul.h"

namespace lw {
namespace {

bool IsSeparator(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 0x01 && byte <= 0x20;
}

void SkipSeparators(std::string_view text, std::size_t& pos) {
  while (pos < text.size() && IsSeparator(text[pos])) ++pos;
}

// Cuts the word starting at `pos` and moves `pos` past it.
std::string NextWord(std::string_view text, std::size_t& pos) {
  std::string argument;
  bool quoted = false;
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && IsSeparator(c)) {
      break;
    } else {
      argument += c;
    }
  }
  return argument;
}

// Cuts the next argument: pairs of adjacent quotes before it are not part of the list,
// nor are the separators after each pair.
std::string NextArgument(std::string_view text, std::size_t& pos) {
  SkipSeparators(text, pos);
  while (text.substr(pos, 2) == "\"\"") {
    pos += 2;
    SkipSeparators(text, pos);
  }
  return NextWord(text, pos);
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  const std::string_view text = TextBeforeNul(commandLine);
  std::size_t pos = 0;
  // The program is the first word, whatever it is: a leading pair is its empty name.
  SkipSeparators(text, pos);
  NextWord(text, pos);
  std::vector<std::string> arguments;
  for (;;) {
    std::string argument = NextArgument(text, pos);
    if (argument.empty()) break;
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

}  // namespace lw
