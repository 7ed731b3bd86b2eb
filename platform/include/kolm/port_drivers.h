// Loading the port driver for the program that runs the redirected port.
// The platform knows the device registry and the driver; which port is the
// program's, and where it publishes its values, the program tells it with
// RegisterRedirectedPort before it loads the driver.
#pragma once

#include <memory>

#include "win32/types.h"

struct RedirectedPortInfo {
    // Key under HKEY_LOCAL_MACHINE where the runtime publishes its "Event"
    // and "HWND" values, through which the driver reaches a runtime that
    // has not registered yet.
    const char* configKey;
    // The mark the program's port carries; named in messages.
    const char* maker;
    // Copies the name of the redirected port's key under
    // HKLM\Enum\Root\Ports into `subkey` (`size` bytes): ERROR_SUCCESS, or
    // ERROR_FILE_NOT_FOUND when no port is registered at all, or
    // ERROR_NO_MORE_ITEMS when none is the program's.
    LONG (*findPort)(char* subkey, DWORD size);
};

// Kept (not copied) until the next call: a program passes static data.
void RegisterRedirectedPort(const RedirectedPortInfo* info);

namespace kolm::platform {

// A loaded port driver: the redirected port is published for applications,
// and the device "\\.\KOLMVX.VXD" is there for the runtime, for as long as
// the object lives.
class PortDrivers {
public:
    // Null when no redirected port is registered or its pty cannot be
    // made (the reason is on standard error).
    static std::unique_ptr<PortDrivers> load();
    virtual ~PortDrivers() = default;
};

} // namespace kolm::platform
