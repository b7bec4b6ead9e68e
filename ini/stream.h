// An abstract byte source with a position.
#pragma once

#include <cstddef>
#include <string_view>

namespace lw {

class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  virtual ~TStream() = default;

  // Copies up to `count` bytes from the position on and moves past them; the count copied.
  virtual std::size_t Read(char* buffer, std::size_t count) = 0;
  // Writes `data` at the position; the count written.
  virtual std::size_t Write(std::string_view data) = 0;
  virtual std::size_t Size() const = 0;
  virtual std::size_t Position() const = 0;
  // Moves the position, at most to the end.
  virtual void Seek(std::size_t position) = 0;
};

}  // namespace lw
