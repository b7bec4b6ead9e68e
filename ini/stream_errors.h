// Errors of file and resource streams.
#pragma once

#include <string>

#include "support/exception.h"

namespace lw {

class EStreamError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EStreamError"; }
};

class EFileStreamError : public EStreamError {
 public:
  using EStreamError::EStreamError;
  const char* ClassName() const noexcept override { return "EFileStreamError"; }
};

class EFOpenError : public EFileStreamError {
 public:
  using EFileStreamError::EFileStreamError;
  const char* ClassName() const noexcept override { return "EFOpenError"; }
};

class EFCreateError : public EFileStreamError {
 public:
  using EFileStreamError::EFileStreamError;
  const char* ClassName() const noexcept override { return "EFCreateError"; }
};

class EFilerError : public EStreamError {
 public:
  using EStreamError::EStreamError;
  const char* ClassName() const noexcept override { return "EFilerError"; }
};

class EWriteError : public EFilerError {
 public:
  using EFilerError::EFilerError;
  const char* ClassName() const noexcept override { return "EWriteError"; }
};

class EResNotFound : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EResNotFound"; }
};

}  // namespace lw
