#pragma once

// The fuzz targets' own checks: a failed one ends the run with its file and line, so
// that a crash says what broke.
#include <cstdio>
#include <cstdlib>

inline void fuzzCheckAt(bool condition, const char* what, const char* file, int line) {
    if (condition)
        return;
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}
#define FUZZ_CHECK(condition) fuzzCheckAt((condition), #condition, __FILE__, __LINE__)
