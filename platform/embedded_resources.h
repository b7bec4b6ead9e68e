// Resources carried in a POSIX build's binary, in place of Windows resources.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lw {

struct EmbeddedResource {
  const char* name;
  std::uint32_t type;
  const char* data;
  std::size_t size;
};

extern const EmbeddedResource kEmbeddedResources[];
extern const std::size_t kEmbeddedResourceCount;

}  // namespace lw
