// Base of the tool's error classes: a class name and a message.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace lw {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  ~Exception() noexcept override = default;

  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }
  // The class name, as the unhandled-error report prints it.
  virtual const char* ClassName() const noexcept { return "Exception"; }

 private:
  std::string message_;
};

}  // namespace lw
