// The numbers of the platform interface: error codes, registry access rights and registry
// value types. Outside the tool's own codes they are the values Windows publishes, named
// here once for every platform, the fake, the core and the tests; platform-win32.cpp
// checks each against <windows.h> and passes them through unchanged.
#pragma once

#include <cstdint>

namespace lw {

// A system error code: GetLastError() on Windows, errno on POSIX; 0 is success.
using SysError = std::uint32_t;

// Windows error codes. The POSIX registry stand-in and the fake give these as Windows
// does, whatever the platform's own codes are.
inline constexpr SysError kErrorFileNotFound = 2;
inline constexpr SysError kErrorPathNotFound = 3;
inline constexpr SysError kErrorAccessDenied = 5;
inline constexpr SysError kErrorInvalidHandle = 6;
inline constexpr SysError kErrorSharingViolation = 32;
inline constexpr SysError kErrorBadNetPath = 53;
inline constexpr SysError kErrorInvalidParameter = 87;
inline constexpr SysError kErrorDiskFull = 112;
inline constexpr SysError kErrorBadPathname = 161;
inline constexpr SysError kErrorRegistryIoFailed = 1016;
inline constexpr SysError kErrorResourceNameNotFound = 1814;

// Codes of the tool's own, in the range Windows leaves to applications, so that no system
// code means the same; the core words them.
inline constexpr SysError kErrorLockTimeout = 0x20000001;        // another run held the file
inline constexpr SysError kErrorNotInCodePage = 0x20000002;      // a name the code page lacks
inline constexpr SysError kErrorNotRegularFile = 0x20000003;     // a FIFO, socket or device
inline constexpr SysError kErrorLinkRefused = 0x20000004;        // a link where none may be
inline constexpr SysError kErrorFileChanged = 0x20000005;        // replaced or changed meanwhile
inline constexpr SysError kErrorVolumeUnreachable = 0x20000006;  // its drive or share is away

// Registry access rights: the key's own, the standard and the generic ones.
inline constexpr std::uint32_t kKeyQueryValue = 0x0001;
inline constexpr std::uint32_t kKeySetValue = 0x0002;
inline constexpr std::uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr std::uint32_t kKeyEnumerateSubKeys = 0x0008;
inline constexpr std::uint32_t kKeyNotify = 0x0010;
inline constexpr std::uint32_t kKeyCreateLink = 0x0020;
inline constexpr std::uint32_t kDelete = 0x00010000;
inline constexpr std::uint32_t kReadControl = 0x00020000;
inline constexpr std::uint32_t kWriteDac = 0x00040000;
inline constexpr std::uint32_t kWriteOwner = 0x00080000;
inline constexpr std::uint32_t kGenericAll = 0x10000000;
inline constexpr std::uint32_t kGenericWrite = 0x40000000;
inline constexpr std::uint32_t kGenericRead = 0x80000000;
// The two accesses the tool asks for (KEY_READ 0x20019, KEY_ALL_ACCESS 0xF003F).
inline constexpr std::uint32_t kKeyRead =
    kReadControl | kKeyQueryValue | kKeyEnumerateSubKeys | kKeyNotify;
inline constexpr std::uint32_t kKeyAllAccess = kDelete | kReadControl | kWriteDac | kWriteOwner |
                                               kKeyQueryValue | kKeySetValue | kKeyCreateSubKey |
                                               kKeyEnumerateSubKeys | kKeyNotify | kKeyCreateLink;

// Registry value types.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;

}  // namespace lw
