// Registry objects in the 64-bit view, and one-call routines for writing a value.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/platform.h"
#include "support/registry.h"

namespace lw {

class TReg64 : public TRegistry {
 public:
  using TRegistry::TRegistry;

  // Opens, or creates when `CanCreate` (and the path is not empty), the key at `Path`
  // and makes it the open key. A leading backslash resolves against the root, anything
  // else against the open key if there is one. On failure the open key stays.
  bool OpenPath64(std::string_view Path, bool CanCreate);
};

// False only for a path that begins with a backslash.
bool IsRelativePath(std::string_view Path);

// A new object on `RootKey`; a `MachineName` other than "." connects to that machine.
// None when the connection fails.
std::unique_ptr<TReg64> RegNewObject(Platform& platform, RegKey RootKey,
                                     std::string_view MachineName);
// Frees the object (closing its key) and leaves none.
void RegFreeObject(std::unique_ptr<TReg64>& Reg);
// Opens with full access; when that fails and `CanCreate`, opens read-only instead.
bool RegOpenWithFallback(TReg64* Reg, std::string_view Path, bool CanCreate);
// A new object with the key at `Path` open, or none.
std::unique_ptr<TReg64> RegOpenObject(Platform& platform, RegKey RootKey, std::string_view Path,
                                      std::string_view MachineName, bool CanCreate);
// Writes a REG_DWORD when the object was opened with full access; otherwise nothing, and
// false. A failed write raises ERegistryException.
bool RegWriteObjectInteger(TReg64* Reg, std::string_view Name, std::int32_t Value);
// Closes the key, then frees the object unless `KeepObject`.
void RegCloseObject(std::unique_ptr<TReg64>& Reg, bool KeepObject);
// Writes `Value` as a REG_DWORD under HKEY_LOCAL_MACHINE\`Path`, creating the key when
// missing. A value left unwritten (no key, a key opened read-only, a failed write)
// raises ERegistryException after the key is closed.
void RegWriteMachineInteger(Platform& platform, std::string_view Path, std::string_view Name,
                            std::int32_t Value);

}  // namespace lw
