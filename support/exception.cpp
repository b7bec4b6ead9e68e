#include "support/exception.h"

#include <utility>

namespace lw {

// Not inlined, so the return address lies in the code that raises the error.
__attribute__((noinline)) Exception::Exception(std::string message)
    : message_(std::move(message)),
      raiseAddress_(reinterpret_cast<std::uintptr_t>(__builtin_return_address(0))) {}

}  // namespace lw
