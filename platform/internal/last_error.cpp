#include "win32.h"

namespace {
// Each thread has its own last-error value, as on Windows.
thread_local DWORD t_last_error = 0;
} // namespace

DWORD GetLastError()
{
    return t_last_error;
}

void SetLastError(DWORD code)
{
    t_last_error = code;
}
