#include "portdrv/port_identity.h"

#include <atomic>

namespace kolm::platform::portdrv {

namespace {

// NOTE: programs register before they load the driver, but tests register
// again between rigs whose threads read it: hence atomic.
std::atomic<const RedirectedPortInfo*> g_info{nullptr};

} // namespace

const RedirectedPortInfo* redirected_port_info()
{
    return g_info.load();
}

} // namespace kolm::platform::portdrv

void RegisterRedirectedPort(const RedirectedPortInfo* info)
{
    kolm::platform::portdrv::g_info.store(info);
}
