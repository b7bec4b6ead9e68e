#include "support/regutils.h"

#include <string>
#include <utility>

namespace lw {

bool TReg64::OpenPath64(std::string_view Path, bool CanCreate) {
  const bool relative = IsRelativePath(Path);
  if (!relative) Path.remove_prefix(1);
  const RegKey base = BaseKeyFor(relative);
  // Stored path worked out first, so nothing can fail once a handle is held.
  std::string newPath(Path);
  if (CurrentKey() != kNoKey && relative) newPath = CurrentPath() + "\\" + newPath;

  RegKey key = kNoKey;
  const SysError status = CanCreate && !Path.empty()
                              ? platform_.CreateKey(base, Path, Access(), key)
                              : platform_.OpenKey(base, Path, Access(), key);
  if (status != 0) return false;
  AdoptKey(key, std::move(newPath));
  return true;
}

bool IsRelativePath(std::string_view Path) {
  return Path.empty() || Path.front() != '\\';
}

std::unique_ptr<TReg64> RegNewObject(Platform& platform, RegKey RootKey,
                                     std::string_view MachineName) {
  auto reg = std::make_unique<TReg64>(platform);
  reg->SelectRootKey(RootKey);
  if (MachineName != "." && !reg->ConnectToMachine(MachineName)) return nullptr;
  return reg;
}

void RegFreeObject(std::unique_ptr<TReg64>& Reg) {
  Reg.reset();
}

bool RegOpenWithFallback(TReg64* Reg, std::string_view Path, bool CanCreate) {
  if (Reg == nullptr) return false;
  Reg->SetAccess(kKeyAllAccess);
  if (Reg->OpenPath64(Path, CanCreate)) return true;
  if (!CanCreate) return false;
  Reg->SetAccess(kKeyRead);
  return Reg->OpenPath64(Path, false);
}

std::unique_ptr<TReg64> RegOpenObject(Platform& platform, RegKey RootKey, std::string_view Path,
                                      std::string_view MachineName, bool CanCreate) {
  auto reg = RegNewObject(platform, RootKey, MachineName);
  if (reg && !RegOpenWithFallback(reg.get(), Path, CanCreate)) RegFreeObject(reg);
  return reg;
}

bool RegWriteObjectInteger(TReg64* Reg, std::string_view Name, std::int32_t Value) {
  if (Reg == nullptr || Reg->Access() != kKeyAllAccess) return false;
  Reg->StoreInteger(Name, Value);
  return true;
}

void RegCloseObject(std::unique_ptr<TReg64>& Reg, bool KeepObject) {
  if (Reg) Reg->CloseCurrentKey();
  if (!KeepObject) RegFreeObject(Reg);
}

void RegWriteMachineInteger(Platform& platform, std::string_view Path, std::string_view Name,
                            std::int32_t Value) {
  auto reg = RegOpenObject(platform, kHkeyLocalMachine, Path, ".", true);
  // On a raise the object's destruction closes the key as the error leaves. A skipped
  // write is the failed write it amounts to: the caller relies on the value.
  if (!RegWriteObjectInteger(reg.get(), Name, Value)) {
    throw ERegistryException(FailedToSetData(Name));
  }
  RegCloseObject(reg, false);
}

}  // namespace lw
