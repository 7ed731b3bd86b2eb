// Results inside the sockets layer: a value, or the WSA error code that the
// exported function hands to WSASetLastError.
#pragma once

#include "internal/result.h"

namespace kolm::platform::net {

// A failure carrying a WSA error code: `return WsaError { WSAE... };`
using WsaError = Failure<int>;

// error() is 0 while the result holds a value.
template <typename T>
using Result = kolm::Result<T, int>;

using kolm::Done;
using Status = Result<Done>;

inline Status ok()
{
    return Done {};
}

} // namespace kolm::platform::net
