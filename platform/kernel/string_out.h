// The Win32 rule for handing a string to a caller's buffer, shared by
// GetEnvironmentVariableA, GetCurrentDirectoryA and GetSystemDirectoryA:
// when it fits, copy it with its NUL and return its length without the NUL;
// when it does not, leave the buffer alone and return the size needed,
// NUL included.
#pragma once

#include <cstring>
#include <string_view>

#include "win32/types.h"

namespace kolm::platform {

inline DWORD copy_out(std::string_view text, char* buf, DWORD size)
{
    if (!buf || text.size() + 1 > size)
        return static_cast<DWORD>(text.size() + 1);
    std::memcpy(buf, text.data(), text.size());
    buf[text.size()] = '\0';
    return static_cast<DWORD>(text.size());
}

} // namespace kolm::platform
