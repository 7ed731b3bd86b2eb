// The redirected port as the program described it (RegisterRedirectedPort).
#pragma once

#include "kolm/port_drivers.h"

namespace kolm::platform::portdrv {

// What the program registered; null before it did.
const RedirectedPortInfo* redirected_port_info();

} // namespace kolm::platform::portdrv
