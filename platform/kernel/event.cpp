// Events, waits and ring-0 handles: the exported kernel32 functions.
#include <mutex>
#include <unordered_map>
#include <vector>

#include "kernel/sync.h"
#include "win32.h"

namespace kolm::platform {

namespace {

// NOTE: ring-0 numbers look like the kernel addresses a driver would get,
// far above any Win32 handle value, so the two can never be confused.
constexpr DWORD kRing0First = 0xC1000020;
constexpr DWORD kRing0Step = 0x20;
constexpr size_t kMaxRing0 = 1u << 16;

struct Ring0Table {
    std::mutex lock;
    std::unordered_map<DWORD, std::shared_ptr<Event>> events;
    std::unordered_map<const Event*, DWORD> numbers;
    DWORD next = kRing0First;
};

Ring0Table& ring0_table()
{
    static Ring0Table* t = new Ring0Table;
    return *t;
}

} // namespace

DWORD ring0_from_event(const std::shared_ptr<Event>& event)
{
    if (!event)
        return 0;
    auto& t = ring0_table();
    std::lock_guard guard(t.lock);
    if (auto it = t.numbers.find(event.get()); it != t.numbers.end())
        return it->second;
    if (t.events.size() >= kMaxRing0)
        return 0;
    auto step = [](DWORD v) { return v >= 0xFFFFFFFF - kRing0Step ? kRing0First : v + kRing0Step; };
    DWORD value = t.next;
    while (t.events.count(value))
        value = step(value);
    t.next = step(value);
    t.events.emplace(value, event);
    t.numbers.emplace(event.get(), value);
    return value;
}

std::shared_ptr<Event> event_from_ring0(DWORD ring0)
{
    auto& t = ring0_table();
    std::lock_guard guard(t.lock);
    auto it = t.events.find(ring0);
    return it == t.events.end() ? nullptr : it->second;
}

bool close_ring0(DWORD ring0)
{
    std::shared_ptr<Event> dropped;
    auto& t = ring0_table();
    std::lock_guard guard(t.lock);
    auto it = t.events.find(ring0);
    if (it == t.events.end())
        return false;
    dropped = std::move(it->second);
    t.numbers.erase(dropped.get());
    t.events.erase(it);
    return true;
}

} // namespace kolm::platform

using namespace kolm::platform;

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCSTR)
{
    auto handle = insert_handle(std::make_shared<Event>(bManualReset != FALSE, bInitialState != FALSE));
    if (!handle) {
        SetLastError(handle.error());
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return *handle;
}

BOOL SetEvent(HANDLE hEvent)
{
    auto event = handle_object<Event>(hEvent);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->set();
    return TRUE;
}

BOOL ResetEvent(HANDLE hEvent)
{
    auto event = handle_object<Event>(hEvent);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->reset();
    return TRUE;
}

DWORD WINAPI OpenVxDHandle(HANDLE hSource)
{
    auto event = handle_object<Event>(hSource);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    const DWORD ring0 = ring0_from_event(event);
    if (!ring0)
        SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return ring0;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    auto object = handle_object<Waitable>(hHandle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return wait_one(object, dwMilliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds)
{
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !lpHandles) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<std::shared_ptr<Waitable>> objects;
    objects.reserve(nCount);
    for (DWORD i = 0; i < nCount; ++i) {
        auto object = handle_object<Waitable>(lpHandles[i]);
        if (!object) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        // A wait-all would have to take the same object twice at once.
        if (bWaitAll) {
            for (const auto& seen : objects) {
                if (seen == object) {
                    SetLastError(ERROR_INVALID_PARAMETER);
                    return WAIT_FAILED;
                }
            }
        }
        objects.push_back(std::move(object));
    }
    const auto outcome = wait_objects(objects, bWaitAll ? WaitMode::All : WaitMode::Any, dwMilliseconds);
    if (outcome.timed_out)
        return WAIT_TIMEOUT;
    return WAIT_OBJECT_0 + static_cast<DWORD>(outcome.index);
}
