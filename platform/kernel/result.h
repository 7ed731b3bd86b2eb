// Results inside the kernel area: a value, or the Win32 error code that the
// exported function will hand to SetLastError.
#pragma once

#include "internal/result.h"
#include "win32/types.h"

namespace kolm::platform {

// A failure carrying a Win32 error code: `return Win32Error { ERROR_... };`
using Win32Error = Failure<DWORD>;

// error() is ERROR_SUCCESS while the result holds a value.
template <typename T>
using Result = kolm::Result<T, DWORD>;

// Success without a value.
using kolm::Done;
using Status = Result<Done>;

} // namespace kolm::platform
