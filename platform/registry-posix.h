// Registry: a directory tree below $ProgramData/Registry/HKEY_LOCAL_MACHINE (and
// HKEY_CURRENT_USER beside it), read when the platform is created. A key is a
// directory; a value is a file of the key's directory named after the value and holding
// exactly its data bytes (a REG_DWORD is four little-endian bytes); its registry type is
// the decimal number and a line feed in a file of the same name in the key's ".types"
// directory. Values are written beside their place and renamed into it. Names are
// matched ignoring ASCII case, as Windows does. Names that cannot be file names (empty
// value name, ".", "..", ".types", '/', NUL) are refused, and a value cannot share its
// name with a sub-key. Full (write) access needs the key's directory writable by the
// process, read access needs it readable; errors are Windows codes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace lw::posix {

// The registry calls of Platform on that directory tree.
class PosixRegistry {
 public:
  // Takes the root from $ProgramData; without it every key is missing.
  PosixRegistry();
  PosixRegistry(const PosixRegistry&) = delete;
  PosixRegistry& operator=(const PosixRegistry&) = delete;

  SysError CreateKey(RegKey base, std::string_view subKey, std::uint32_t access, RegKey& key);
  SysError OpenKey(RegKey base, std::string_view subKey, std::uint32_t access, RegKey& key);
  SysError SetValue(RegKey key, std::string_view name, std::uint32_t type, std::string_view data);
  void CloseKey(RegKey key);
  SysError ConnectRegistry(std::string_view machine, RegKey root, RegKey& key);

 private:
  struct OpenedKey {
    std::string dir;
    std::uint32_t access = 0;
  };

  // The directory and granted access of an open key or predefined root.
  SysError KeyDirectory(RegKey key, std::string& dir, std::uint32_t& access) const;
  SysError OpenOrCreate(RegKey base, std::string_view subKey, std::uint32_t access, bool create,
                        RegKey& key);

  std::string root_;  // $ProgramData/Registry; empty without ProgramData
  std::map<RegKey, OpenedKey> keys_;
  std::uintptr_t nextKey_ = 1;
};

}  // namespace lw::posix
