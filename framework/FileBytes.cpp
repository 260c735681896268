#include "framework/FileBytes.h"

#include <cstring>

DWORD Le32(const std::uint8_t* p)
{
    DWORD value = 0;
    std::memcpy(&value, p, 4);
    return value;
}

bool ReadFileAt(HANDLE file, ULONGLONG offset, void* buffer, DWORD size)
{
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    DWORD read = 0;
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && ReadFile(file, buffer, size, &read, nullptr) &&
           read == size;
}
