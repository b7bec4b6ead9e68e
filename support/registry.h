// A registry object holding one open key below a root key, and its error.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/platform.h"
#include "support/exception.h"

namespace lw {

// Kinds of data StoreValue writes; any other number is written as REG_NONE.
enum class TValueKind : std::int32_t {
  Untyped = 0,
  String = 1,
  ExpandString = 2,
  Integer = 3,
  Binary = 4,
};

class ERegistryException : public Exception {
 public:
  // Always inlined, so the base records the raise address in the function that throws
  // rather than in this constructor.
  [[gnu::always_inline]] explicit ERegistryException(std::string message)
      : Exception(std::move(message)) {}

  const char* ClassName() const noexcept override { return "ERegistryException"; }
};

// The message of a value left unwritten, however that came about.
std::string FailedToSetData(std::string_view Name);

class TRegistry {
 public:
  // Root HKEY_CURRENT_USER, full access, no key open.
  explicit TRegistry(Platform& platform);
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;
  // Closes the open key and releases a root obtained by ConnectToMachine.
  virtual ~TRegistry() noexcept;

  RegKey CurrentKey() const noexcept { return CurrentKeyHandle; }
  RegKey RootKey() const noexcept { return RootKeyHandle; }
  const std::string& CurrentPath() const noexcept { return CurrentKeyPath; }
  bool OwnsRoot() const noexcept { return OwnsRootKey; }
  bool DeferredFlush() const noexcept { return DeferFlush; }
  // Access requested by the next open or create.
  std::uint32_t Access() const noexcept { return AccessMask; }
  void SetAccess(std::uint32_t access) noexcept { AccessMask = access; }

  void CloseCurrentKey() noexcept;
  // A different root closes the open key (and releases an owned root).
  void SelectRootKey(RegKey Root) noexcept;
  // Takes over an opened handle and its path as the open key.
  void AdoptKey(RegKey Handle, std::string Path) noexcept;
  // The open key for a relative path while one is open; the root otherwise.
  RegKey BaseKeyFor(bool Relative) const noexcept;
  // Writes `Buffer` as the named value of the open key; raises ERegistryException.
  void StoreValue(std::string_view Name, std::string_view Buffer, TValueKind Kind);
  // Writes `Value` as a REG_DWORD (four bytes, little-endian).
  void StoreInteger(std::string_view Name, std::int32_t Value);
  // Makes the same root on `MachineName` the root; false (and no change) on failure.
  bool ConnectToMachine(std::string_view MachineName);

 protected:
  Platform& platform_;

 private:
  RegKey CurrentKeyHandle = kNoKey;
  RegKey RootKeyHandle = kHkeyCurrentUser;
  bool DeferFlush = true;  // closing never flushes explicitly
  std::string CurrentKeyPath;
  bool OwnsRootKey = false;
  std::uint32_t AccessMask = kKeyAllAccess;
};

}  // namespace lw
