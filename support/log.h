// Progress lines on standard output, noting whether any error line was written.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace lw {

class Log {
 public:
  // A quiet log writes nothing but still notes errors (for timing runs).
  explicit Log(Platform& platform, bool quiet = false) : platform_(platform), quiet_(quiet) {}

  void Line(std::string_view text) {
    if (!quiet_) platform_.WriteLine(text);
  }
  // An error line: `prefix` (such as "* exception: ") followed by the message.
  void Error(std::string_view prefix, std::string_view message) {
    errorLogged_ = true;
    std::string line(prefix);
    line += message;
    Line(line);
  }
  bool ErrorLogged() const { return errorLogged_; }

 private:
  Platform& platform_;
  bool quiet_;
  bool errorLogged_ = false;
};

}  // namespace lw
