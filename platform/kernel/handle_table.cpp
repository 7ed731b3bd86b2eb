#include "kernel/handle_table.h"

#include <mutex>
#include <unordered_map>

#include "internal/process_lifetime.h"

namespace kolm::platform {

namespace {

// NOTE: bounded so a leak shows up as a clean failure, not exhaustion.
constexpr size_t kMaxHandles = 1u << 20;
constexpr DWORD kFirst = 4;
constexpr DWORD kLast = 0x3FFFFFFC;

struct HandleTable {
    std::mutex lock;
    std::unordered_map<DWORD, std::shared_ptr<KernelObject>> objects;
    DWORD next = kFirst;
};

HandleTable& table()
{
    return process_lifetime<HandleTable>();
}

DWORD handle_value(HANDLE h)
{
    const auto raw = reinterpret_cast<uintptr_t>(h);
    if (raw == 0 || raw > kLast || (raw & 3) != 0)
        return 0;
    return static_cast<DWORD>(raw);
}

} // namespace

Result<HANDLE> insert_handle(std::shared_ptr<KernelObject> object)
{
    auto& t = table();
    std::lock_guard guard(t.lock);
    if (t.objects.size() >= kMaxHandles)
        return Win32Error{ERROR_NO_SYSTEM_RESOURCES};
    DWORD value = t.next;
    while (t.objects.count(value))
        value = value >= kLast ? kFirst : value + 4;
    t.next = value >= kLast ? kFirst : value + 4;
    t.objects.emplace(value, std::move(object));
    return DwordToHandle<HANDLE>(value);
}

std::shared_ptr<KernelObject> object_from_handle(HANDLE h)
{
    const DWORD value = handle_value(h);
    if (!value)
        return nullptr;
    auto& t = table();
    std::lock_guard guard(t.lock);
    auto it = t.objects.find(value);
    return it == t.objects.end() ? nullptr : it->second;
}

bool close_handle(HANDLE h)
{
    const DWORD value = handle_value(h);
    if (!value)
        return false;
    std::shared_ptr<KernelObject> dropped;
    {
        auto& t = table();
        std::lock_guard guard(t.lock);
        auto it = t.objects.find(value);
        if (it == t.objects.end())
            return false;
        dropped = std::move(it->second);
        t.objects.erase(it);
    }
    // The object's destructor (a device closing, a file being deleted)
    // runs here, with the table unlocked.
    return true;
}

size_t open_handle_count()
{
    auto& t = table();
    std::lock_guard guard(t.lock);
    return t.objects.size();
}

} // namespace kolm::platform

BOOL CloseHandle(HANDLE hObject)
{
    if (!kolm::platform::close_handle(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
