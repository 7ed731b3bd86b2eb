// Kept for the tools that still include it from here; programs include
// "kolm/program_help.h".
#pragma once

#include "kolm/program_help.h"
