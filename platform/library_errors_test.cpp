// The C++ library's own errors and their messages: libstdc++'s on Linux, the Windows
// builds' replacement (library_errors-win32.cpp) there, which must say the same.
#include <gtest/gtest.h>

#include <cstddef>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace lw {
namespace {

// Sizes the compiler cannot see through, so that it warns of no call it could prove wrong.
std::size_t Opaque(std::size_t value) {
  volatile std::size_t kept = value;
  return kept;
}

TEST(LibraryErrors, KeepTheLibrarysMessages) {
  const std::string text = "abc";
  const struct {
    const char* what;
    std::function<void()> raise;
  } cases[] = {
      {"basic_string::substr: __pos (which is 5) > this->size() (which is 3)",
       [&] { static_cast<void>(text.substr(Opaque(5))); }},
      {"basic_string::at: __n (which is 7) >= this->size() (which is 3)",
       [&] { static_cast<void>(text.at(Opaque(7))); }},
      {"basic_string::_M_create",
       [&] { std::string(text).reserve(Opaque(std::numeric_limits<std::size_t>::max())); }},
      {"vector::reserve",
       [] { std::vector<int>().reserve(Opaque(std::numeric_limits<std::size_t>::max())); }},
  };
  for (const auto& c : cases) {
    try {
      c.raise();
      ADD_FAILURE() << "no error: " << c.what;
    } catch (const std::exception& error) {
      EXPECT_STREQ(error.what(), c.what);
    }
  }
}

TEST(LibraryErrors, AllocationsPastTheLimitKeepTheirClasses) {
  const std::size_t all = Opaque(std::numeric_limits<std::size_t>::max());
  EXPECT_THROW(static_cast<void>(std::allocator<char>().allocate(all)), std::bad_alloc);
  EXPECT_THROW(static_cast<void>(std::allocator<int>().allocate(all)), std::bad_array_new_length);
}

}  // namespace
}  // namespace lw
