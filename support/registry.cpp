#include "support/registry.h"

#include <utility>

namespace lw {
namespace {

std::uint32_t RegistryTypeOf(TValueKind kind) {
  switch (kind) {
    case TValueKind::String:
      return kRegSz;
    case TValueKind::ExpandString:
      return kRegExpandSz;
    case TValueKind::Integer:
      return kRegDword;
    case TValueKind::Binary:
      return kRegBinary;
    default:
      return kRegNone;
  }
}

}  // namespace

std::string FailedToSetData(std::string_view Name) {
  return "Failed to set data for '" + std::string(Name) + "'";
}

TRegistry::TRegistry(Platform& platform) : platform_(platform) {}

TRegistry::~TRegistry() noexcept {
  CloseCurrentKey();
  if (OwnsRootKey) platform_.CloseKey(RootKeyHandle);
}

void TRegistry::CloseCurrentKey() noexcept {
  if (CurrentKeyHandle == kNoKey) return;
  platform_.CloseKey(CurrentKeyHandle);
  CurrentKeyHandle = kNoKey;
  CurrentKeyPath.clear();
}

void TRegistry::SelectRootKey(RegKey Root) noexcept {
  if (Root == RootKeyHandle) return;
  if (OwnsRootKey) {
    platform_.CloseKey(RootKeyHandle);
    OwnsRootKey = false;
  }
  RootKeyHandle = Root;
  CloseCurrentKey();
}

void TRegistry::AdoptKey(RegKey Handle, std::string Path) noexcept {
  CloseCurrentKey();
  CurrentKeyHandle = Handle;
  CurrentKeyPath = std::move(Path);
}

RegKey TRegistry::BaseKeyFor(bool Relative) const noexcept {
  return CurrentKeyHandle != kNoKey && Relative ? CurrentKeyHandle : RootKeyHandle;
}

void TRegistry::StoreValue(std::string_view Name, std::string_view Buffer, TValueKind Kind) {
  if (platform_.SetValue(CurrentKeyHandle, Name, RegistryTypeOf(Kind), Buffer) != 0) {
    throw ERegistryException(FailedToSetData(Name));
  }
}

void TRegistry::StoreInteger(std::string_view Name, std::int32_t Value) {
  const auto bits = static_cast<std::uint32_t>(Value);
  const char bytes[4] = {static_cast<char>(bits & 0xFF), static_cast<char>((bits >> 8) & 0xFF),
                         static_cast<char>((bits >> 16) & 0xFF),
                         static_cast<char>((bits >> 24) & 0xFF)};
  StoreValue(Name, std::string_view(bytes, sizeof bytes), TValueKind::Integer);
}

bool TRegistry::ConnectToMachine(std::string_view MachineName) {
  RegKey remote = kNoKey;
  if (platform_.ConnectRegistry(MachineName, RootKeyHandle, remote) != 0) return false;
  SelectRootKey(remote);
  OwnsRootKey = true;
  return true;
}

}  // namespace lw
