// Checks of the fuzz targets: a broken expectation ends the process as a crash would, so that
// the fuzzer keeps the input and the corpus replay fails.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                    \
    do {                                                                                         \
        if (!(condition)) {                                                                      \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);   \
            std::abort();                                                                        \
        }                                                                                        \
    } while (0)
