// The device seam: "\\.\NAME" opened with CreateFileA reaches an object
// that platform code registered under NAME at run time (the port driver
// next), and DeviceIoControl on its handle calls the object's ioctl.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "kernel/handle_table.h"

namespace kolm::platform {

// What CreateFileA was asked, handed to the provider.
struct DeviceOpen {
    std::string name; // as written after "\\.\"
    DWORD access = 0;
    DWORD share = 0;
    DWORD disposition = 0;
    DWORD flags = 0; // flags and attributes
};

class DeviceObject : public KernelObject {
public:
    // One synchronous control call. On success, the value DeviceIoControl
    // reports as the returned-byte count (a driver decides what it counts);
    // on failure, the error GetLastError will give.
    virtual Result<DWORD> ioctl(DWORD code, const void* in, DWORD in_len, void* out, DWORD out_len) = 0;

    // ReadFile / WriteFile on the device; not every device has them.
    virtual Result<DWORD> read(void* buf, DWORD len);
    virtual Result<DWORD> write(const void* buf, DWORD len);
};

using DeviceFactory = std::function<Result<std::shared_ptr<DeviceObject>>(const DeviceOpen&)>;

// Names match without regard to case. register_device refuses a name that
// is already taken (false); unregister_device is false for an unknown name.
// Handles already open stay valid after their provider goes.
bool register_device(std::string_view name, DeviceFactory factory);
bool unregister_device(std::string_view name);

// Opens a device through its provider; ERROR_FILE_NOT_FOUND without one.
Result<std::shared_ptr<DeviceObject>> open_device(const DeviceOpen& request);

// Registers a provider for the life of the object.
class DeviceRegistration {
public:
    DeviceRegistration(std::string name, DeviceFactory factory);
    ~DeviceRegistration();
    DeviceRegistration(const DeviceRegistration&) = delete;
    DeviceRegistration& operator=(const DeviceRegistration&) = delete;
    bool registered() const { return m_registered; }

private:
    std::string m_name;
    bool m_registered;
};

} // namespace kolm::platform
