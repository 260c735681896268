#pragma once

// Reading numbers and byte ranges out of files whose layout we parse ourselves (AVI chunks): plain
// functions of any thread.

#include <windows.h>

#include <cstdint>

// The little-endian 32-bit number at p.
[[nodiscard]] DWORD Le32(const std::uint8_t* p);

// Reads exactly `size` bytes at `offset` of an open file; false on a short read or an error.
[[nodiscard]] bool ReadFileAt(HANDLE file, ULONGLONG offset, void* buffer, DWORD size);
