// The C++ library's raises of its own errors (a size past a container's limit, a position
// past the end, a failed allocation) in place of libstdc++'s. Its own build std::logic_error
// and std::runtime_error, whose strings of the old ABI bring some 30 KiB of code that nothing
// else runs (the linker keeps whole any library object an unwind table names). These raise
// the same messages through one class that holds an ordinary string; the errors without a
// message keep their classes. The whole set is here, so that the library's never comes too.
#include <cstdarg>
#include <cstddef>
#include <exception>
#include <new>
#include <string>
#include <typeinfo>
#include <utility>

namespace lw {
namespace {

class LibraryError final : public std::exception {
 public:
  explicit LibraryError(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// The library's formats hold "%s" and "%zu" only; any other '%' stands as it is.
std::string Format(const char* format, std::va_list args) {
  std::string text;
  for (const char* at = format; *at != '\0'; ++at) {
    if (at[0] == '%' && at[1] == 's') {
      text += va_arg(args, const char*);
      at += 1;
    } else if (at[0] == '%' && at[1] == 'z' && at[2] == 'u') {
      text += std::to_string(va_arg(args, std::size_t));
      at += 2;
    } else {
      text += *at;
    }
  }
  return text;
}

}  // namespace
}  // namespace lw

namespace std {

void __throw_bad_exception() {
  throw bad_exception();
}
void __throw_bad_alloc() {
  throw bad_alloc();
}
void __throw_bad_array_new_length() {
  throw bad_array_new_length();
}
void __throw_bad_cast() {
  throw bad_cast();
}
void __throw_bad_typeid() {
  throw bad_typeid();
}
void __throw_logic_error(const char* message) {
  throw lw::LibraryError(message);
}
void __throw_domain_error(const char* message) {
  throw lw::LibraryError(message);
}
void __throw_invalid_argument(const char* message) {
  throw lw::LibraryError(message);
}
void __throw_length_error(const char* message) {
  throw lw::LibraryError(message);
}
void __throw_out_of_range(const char* message) {
  throw lw::LibraryError(message);
}
void __throw_runtime_error(const char* message) {
  throw lw::LibraryError(message);
}
void __throw_range_error(const char* message) {
  throw lw::LibraryError(message);
}
void __throw_overflow_error(const char* message) {
  throw lw::LibraryError(message);
}
void __throw_underflow_error(const char* message) {
  throw lw::LibraryError(message);
}

void __throw_out_of_range_fmt(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string message = lw::Format(format, args);
  va_end(args);
  throw lw::LibraryError(std::move(message));
}

}  // namespace std
