// A failed check prints where and what; the program's exit status is the
// number of failed checks. For the Win32 test programs that run under Wine.
#pragma once

#include <cstdio>
#include <string>

inline int& wineCheckFailures()
{
    static int failures = 0;
    return failures;
}

#define CHECK(condition)                                                                                               \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition);                               \
            ++wineCheckFailures();                                                                                     \
        }                                                                                                              \
    } while (0)

// Two wide texts; on a difference both are printed.
#define CHECK_TEXT(actual, expected)                                                                                   \
    do {                                                                                                               \
        const std::wstring a_ = (actual), e_ = (expected);                                                             \
        if (a_ != e_) {                                                                                                \
            std::fprintf(stderr, "%s:%d: failed: %s is \"%ls\", expected \"%ls\"\n", __FILE__, __LINE__, #actual,      \
                         a_.c_str(), e_.c_str());                                                                      \
            ++wineCheckFailures();                                                                                     \
        }                                                                                                              \
    } while (0)

inline int wineCheckResult(const char* name)
{
    std::fprintf(stderr, "%s: %s\n", name, wineCheckFailures() == 0 ? "passed" : "FAILED");
    return wineCheckFailures();
}
