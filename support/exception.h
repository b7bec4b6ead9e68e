// Base of the tool's error classes: a class name, a message and where it was raised.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace lw {

class Exception : public std::exception {
 public:
  // Records the code address it is constructed from, for the unhandled-error report.
  explicit Exception(std::string message);
  ~Exception() noexcept override = default;

  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }
  // The class name, as the unhandled-error report prints it.
  virtual const char* ClassName() const noexcept { return "Exception"; }
  // Code address of the raise, in the executable's address space.
  std::uintptr_t RaiseAddress() const noexcept { return raiseAddress_; }

 private:
  std::string message_;
  std::uintptr_t raiseAddress_;
};

}  // namespace lw
