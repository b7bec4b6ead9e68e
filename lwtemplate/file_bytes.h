// Whole input files read as bytes with the C++ library (executables, templates,
// phonebooks), refusing anything larger than the caller allows.
#pragma once

#include <cstdint>
#include <string>

namespace lw {

// The bytes of the file at `path`. Raises EFOpenError with a reason that does not repeat
// the path ("no such file", "is not a file", "is larger than N bytes", "could not be
// read whole") when it cannot be read whole within `limit` bytes.
std::string ReadFileBytes(const std::string& path, std::uint64_t limit);

}  // namespace lw
