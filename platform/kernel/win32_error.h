// The one translation from errno to Win32 error codes for the kernel area.
#pragma once

#include "win32/types.h"

namespace kolm::platform {

DWORD win32_error_from_errno(int e);

} // namespace kolm::platform
