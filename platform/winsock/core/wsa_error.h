// The one translation from errno (and resolver status) to WSA error codes.
#pragma once

#include "win32/wsaerror.h"

namespace kolm::platform::net {

// Every errno the kernel gives for socket calls has its WSA counterpart; an
// errno without one becomes WSAEFAULT and is reported once on stderr, so
// that a failure is never mistaken for success.
int wsa_error_from_errno(int e);

// getaddrinfo's EAI_* status as gethostbyname reports it (EAI_SYSTEM is
// translated from errno by the caller).
int wsa_error_from_gai(int status);

} // namespace kolm::platform::net
