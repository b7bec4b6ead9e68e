#include "ini/resource_stream.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "ini/stream_errors.h"
#include "platform/platform.h"

namespace lw {

TResourceStream::TResourceStream(Platform& platform, std::string_view name, std::uint32_t type) {
  if (platform.FindResourceData(name, type, data_) != 0) {
    std::string message = "Resource ";
    message += name;
    message += " not found";
    throw EResNotFound(message);
  }
}

std::size_t TResourceStream::Read(char* buffer, std::size_t count) {
  const std::size_t copied = std::min(count, data_.size() - position_);
  if (copied != 0) std::memcpy(buffer, data_.data() + position_, copied);
  position_ += copied;
  return copied;
}

std::size_t TResourceStream::Write(std::string_view) {
  throw EStreamError("Can't write to a read-only resource stream");
}

void TResourceStream::Seek(std::size_t position) {
  position_ = std::min(position, data_.size());
}

}  // namespace lw
