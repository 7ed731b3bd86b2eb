// Win32 registry functions of the platform layer.
#pragma once

#include "win32/types.h"
