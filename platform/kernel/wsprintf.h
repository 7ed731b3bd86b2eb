// The Win32 formatter behind wsprintfA / wvsprintfA, usable with any
// buffer size inside the layer.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace kolm::platform {

// The most wsprintfA writes, not counting the NUL.
constexpr size_t kWsprintfMax = 1024;

// Formats into out, which holds cap bytes (cap >= 1, room for the NUL
// included); the text is cut to fit. Returns the characters stored, not
// counting the NUL.
size_t format_win32(char* out, size_t cap, const char* fmt, va_list args);

} // namespace kolm::platform
