// Basic types and result codes of the platform port. Results follow the Windows conventions that
// the library's code was written against (0 is success, a missing key is "file not found").
#pragma once

#include <cstdint>

namespace plat {

using DWORD = std::uint32_t;
using LONG = std::int32_t;
using HKEY = std::uintptr_t;     // registry key handle; 0 is invalid
using HWND = std::uint64_t;      // top-level window handle; 0 is none
using HMODULE = void*;           // run-time module handle; null is none

// Result codes (the Windows values, so logs read the same on both backends).
enum : LONG {
    kErrorSuccess = 0,
    kErrorFileNotFound = 2,
    kErrorPathNotFound = 3,
    kErrorAccessDenied = 5,
    kErrorInvalidHandle = 6,
    kErrorNotEnoughMemory = 8,
    kErrorDiskFull = 112,
    kErrorInvalidParameter = 87,
    kErrorModNotFound = 126,
    kErrorProcNotFound = 127,
    kErrorAlreadyExists = 183,
    kErrorMoreData = 234,
    kErrorNoMoreItems = 259,
    kErrorTimeout = 1460,
    kErrorUnsupportedType = 1630,
    kErrorChildMustBeVolatile = 1021,
    kErrorInternal = 1359,
};

// Predefined registry roots.
inline constexpr HKEY kHKeyLocalMachine = 0x80000002;
inline constexpr HKEY kHKeyUsers = 0x80000003;

// Access masks used by the library.
inline constexpr DWORD kKeyQueryValue = 0x0001;
inline constexpr DWORD kKeySetValue = 0x0002;
inline constexpr DWORD kKeyCreateSubKey = 0x0004;
inline constexpr DWORD kKeyRead = 0x20019;
inline constexpr DWORD kKeyWrite = 0x20006;
inline constexpr DWORD kKeyAllAccess = 0xF003F;

// Key creation options and dispositions.
inline constexpr DWORD kRegOptionNonVolatile = 0;
inline constexpr DWORD kRegOptionVolatile = 1;
inline constexpr DWORD kRegCreatedNewKey = 1;
inline constexpr DWORD kRegOpenedExistingKey = 2;

// The calling thread's last error, as GetLastError/SetLastError.
DWORD GetLastError();
void SetLastError(DWORD code);

}  // namespace plat
