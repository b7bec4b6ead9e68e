// A stage boundary: an error inside is logged after a prefix and goes no further.
#pragma once

#include <exception>
#include <string_view>

#include "support/exception.h"
#include "support/log.h"

namespace lw {

// Runs `stage`; an error it raises is logged as `prefix` + message. True when none was.
template <typename Stage>
bool RunGuarded(Log& log, std::string_view prefix, Stage&& stage) {
  try {
    stage();
    return true;
  } catch (const Exception& error) {
    log.Error(prefix, error.Message());
  } catch (const std::exception& error) {
    log.Error(prefix, error.what());
  }
  return false;
}

}  // namespace lw
