// The per-process table of kernel-object handles.
//
// A handle is a small non-zero multiple of 4 that fits in 32 bits (the
// programs publish handles as REG_DWORD) and is never INVALID_HANDLE_VALUE.
// Values are not reused until the counter wraps, so a stale handle gives
// ERROR_INVALID_HANDLE instead of reaching a newer object. Objects are
// reference counted: closing a handle drops the table's reference, and an
// object another thread is still using (waiting on it, calling into it)
// lives until that use ends.
#pragma once

#include <memory>

#include "kernel/result.h"
#include "win32/kernel.h"

namespace kolm::platform {

// Base of every object behind a HANDLE. New kinds (devices, files, ...)
// derive from it; the exported functions find them with handle_object<T>.
class KernelObject {
public:
    virtual ~KernelObject() = default;
    KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;
};

// Enters an object; ERROR_NO_SYSTEM_RESOURCES when the table is full.
Result<HANDLE> insert_handle(std::shared_ptr<KernelObject> object);

// The object behind a handle, or null for a closed, stale or foreign one.
std::shared_ptr<KernelObject> object_from_handle(HANDLE h);

template <typename T>
std::shared_ptr<T> handle_object(HANDLE h)
{
    return std::dynamic_pointer_cast<T>(object_from_handle(h));
}

// Drops the handle; false when it was not open. The object itself goes
// when its last user lets go of it, outside the table lock.
bool close_handle(HANDLE h);

// Number of open handles, for leak checks in tests.
size_t open_handle_count();

} // namespace kolm::platform
