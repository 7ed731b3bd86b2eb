// What a fuzz target does when an input breaks a property it checks: say
// which, and abort, so libFuzzer keeps the input and a replay fails.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond, what)                                                                   \
    do {                                                                                         \
        if (!(cond)) {                                                                           \
            std::fprintf(stderr, "fuzz check failed at %s:%d: %s\n", __FILE__, __LINE__, what); \
            std::abort();                                                                        \
        }                                                                                        \
    } while (0)
