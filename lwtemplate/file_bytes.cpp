#include "lwtemplate/file_bytes.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "ini/stream_errors.h"

namespace lw {

std::string ReadFileBytes(const std::string& path, std::uint64_t limit) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (status.type() == std::filesystem::file_type::not_found) throw EFOpenError("no such file");
  if (!error && status.type() != std::filesystem::file_type::regular) {
    throw EFOpenError("is not a file");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EFOpenError("could not be opened");
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0) throw EFOpenError("could not be read whole");
  if (static_cast<std::uint64_t>(size) > limit) {
    throw EFOpenError("is larger than " + std::to_string(limit) + " bytes");
  }
  in.seekg(0, std::ios::beg);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  in.read(bytes.data(), size);
  // A file that changed size meanwhile is refused rather than read in part.
  if (in.gcount() != size || in.peek() != std::ifstream::traits_type::eof()) {
    throw EFOpenError("could not be read whole");
  }
  return bytes;
}

}  // namespace lw
