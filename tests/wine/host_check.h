// A small checking kit for the Windows test host: every failed check prints where and why, and
// the group's exit code is the number of failures.
#pragma once

#include <windows.h>

#include <cstdio>

namespace zavtest {

int &Failures();
void Report(const char *file, int line, const char *what);
// Reports a difference with both strings as UTF-8 and as hexadecimal character codes.
void CheckWideString(const wchar_t *expected, const wchar_t *actual, const char *what,
                     const char *file, int line);

}  // namespace zavtest

#define CHECK(cond)                                                  \
    do {                                                             \
        if (!(cond)) {                                               \
            zavtest::Report(__FILE__, __LINE__, "CHECK(" #cond ")"); \
        }                                                            \
    } while (0)

#define CHECK_EQ(expected, actual)                                                          \
    do {                                                                                    \
        const long long zav_e = static_cast<long long>(expected);                           \
        const long long zav_a = static_cast<long long>(actual);                             \
        if (zav_e != zav_a) {                                                               \
            char zav_m[512];                                                                \
            std::snprintf(zav_m, sizeof zav_m,                                              \
                          "%s == %s: expected %lld (0x%llx), got %lld (0x%llx)", #expected, \
                          #actual, zav_e, zav_e, zav_a, zav_a);                             \
            zavtest::Report(__FILE__, __LINE__, zav_m);                                     \
        }                                                                                   \
    } while (0)

#define CHECK_HR(expected, actual) \
    CHECK_EQ(static_cast<unsigned long>(expected), static_cast<unsigned long>(actual))

#define CHECK_WSTR(expected, actual) \
    zavtest::CheckWideString((expected), (actual), #expected " == " #actual, __FILE__, __LINE__)
