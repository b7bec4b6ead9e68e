#include "platform/command_line.h"

#include <cstddef>
#include <utility>

namespace lw {
namespace {

// The text as a C string would see it.
std::string_view UpToNul(std::string_view text) {
  const std::size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

bool IsSeparator(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 0x01 && byte <= 0x20;
}

// Cuts the argument starting at `pos` (after any separators) and moves `pos` past it.
std::string NextArgument(std::string_view text, std::size_t& pos) {
  while (pos < text.size() && IsSeparator(text[pos])) ++pos;
  if (text.substr(pos, 2) == "\"\"") pos += 2;
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

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  const std::string_view text = UpToNul(commandLine);
  std::size_t pos = 0;
  NextArgument(text, pos);  // the program, whatever it is
  std::vector<std::string> arguments;
  for (;;) {
    std::string argument = NextArgument(text, pos);
    if (argument.empty()) break;
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

}  // namespace lw
