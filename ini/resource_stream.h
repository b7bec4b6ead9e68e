// A read-only byte source over a resource of the running executable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ini/stream.h"

namespace lw {

class Platform;

class TResourceStream : public TStream {
 public:
  // Raises EResNotFound "Resource <name> not found" when there is no such resource.
  TResourceStream(Platform& platform, std::string_view name, std::uint32_t type);

  std::size_t Read(char* buffer, std::size_t count) override;
  // Raises EStreamError: the resource cannot be written.
  std::size_t Write(std::string_view data) override;
  std::size_t Size() const override { return data_.size(); }
  std::size_t Position() const override { return position_; }
  void Seek(std::size_t position) override;

 private:
  std::string_view data_;  // owned by the platform for the whole process
  std::size_t position_ = 0;
};

}  // namespace lw
