// What a fuzz target does when a property fails: say which, and abort, so
// that libFuzzer keeps the input and the replay runner fails.
#pragma once

#include <cstdio>
#include <cstdlib>

#define KESTRO_FUZZ_CHECK(condition, ...)                                              \
    do {                                                                               \
        if (!(condition)) {                                                            \
            std::fprintf(stderr, "fuzz check failed at %s:%d: %s\n", __FILE__, __LINE__, \
                         #condition);                                                  \
            std::fprintf(stderr, __VA_ARGS__);                                         \
            std::fprintf(stderr, "\n");                                                \
            std::abort();                                                              \
        }                                                                              \
    } while (0)
