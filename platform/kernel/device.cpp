#include "kernel/device.h"
#include "internal/nocase.h"

#include <map>
#include <mutex>

#include "win32.h"

namespace kolm::platform {

namespace {

struct Providers {
    std::mutex lock;
    std::map<std::string, DeviceFactory> by_name; // keyed by lower-case name
};

Providers& providers()
{
    static Providers* p = new Providers;
    return *p;
}

std::string fold(std::string_view name)
{
    return lower_ascii(name);
}

} // namespace

Result<DWORD> DeviceObject::read(void*, DWORD)
{
    return Win32Error{ERROR_INVALID_FUNCTION};
}

Result<DWORD> DeviceObject::write(const void*, DWORD)
{
    return Win32Error{ERROR_INVALID_FUNCTION};
}

bool register_device(std::string_view name, DeviceFactory factory)
{
    if (name.empty() || !factory)
        return false;
    auto& p = providers();
    std::lock_guard guard(p.lock);
    return p.by_name.emplace(fold(name), std::move(factory)).second;
}

bool unregister_device(std::string_view name)
{
    DeviceFactory dropped;
    auto& p = providers();
    std::lock_guard guard(p.lock);
    auto it = p.by_name.find(fold(name));
    if (it == p.by_name.end())
        return false;
    dropped = std::move(it->second);
    p.by_name.erase(it);
    return true;
}

Result<std::shared_ptr<DeviceObject>> open_device(const DeviceOpen& request)
{
    DeviceFactory factory;
    {
        auto& p = providers();
        std::lock_guard guard(p.lock);
        auto it = p.by_name.find(fold(request.name));
        if (it == p.by_name.end())
            return Win32Error{ERROR_FILE_NOT_FOUND};
        factory = it->second;
    }
    // The provider runs unlocked: it may register or open other devices.
    auto device = factory(request);
    if (device && !*device)
        return Win32Error{ERROR_GEN_FAILURE};
    return device;
}

DeviceRegistration::DeviceRegistration(std::string name, DeviceFactory factory)
    : m_name(std::move(name)), m_registered(register_device(m_name, std::move(factory)))
{
}

DeviceRegistration::~DeviceRegistration()
{
    if (m_registered)
        unregister_device(m_name);
}

} // namespace kolm::platform

using namespace kolm::platform;

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped)
{
    auto device = handle_object<DeviceObject>(hDevice);
    if (!device) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Every call is synchronous, so the byte count has nowhere to go but
    // lpBytesReturned; a buffer length without a buffer would be read or
    // written through a null pointer.
    if (lpOverlapped || !lpBytesReturned || (!lpInBuffer && nInBufferSize) || (!lpOutBuffer && nOutBufferSize)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto result = device->ioctl(dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize);
    if (!result) {
        *lpBytesReturned = 0;
        SetLastError(result.error());
        return FALSE;
    }
    *lpBytesReturned = *result;
    return TRUE;
}
