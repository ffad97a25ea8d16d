// The checking kit's counters and output.
#include "host_check.h"

#include <string>

namespace zavtest {

int &Failures() {
    static int failures = 0;
    return failures;
}

void Report(const char *file, int line, const char *what) {
    ++Failures();
    std::printf("FAILED %s:%d: %s\n", file, line, what);
    std::fflush(stdout);
}

void CheckWideString(const wchar_t *expected, const wchar_t *actual, const char *what,
                     const char *file, int line) {
    if (actual != nullptr && lstrcmpW(expected, actual) == 0) {
        return;
    }
    std::string message = std::string(what) + ": expected ";
    auto append = [&message](const wchar_t *s) {
        if (s == nullptr) {
            message += "(null)";
            return;
        }
        char utf8[2048] = {};
        WideCharToMultiByte(CP_UTF8, 0, s, -1, utf8, sizeof utf8 - 1, nullptr, nullptr);
        message += "\"" + std::string(utf8) + "\" [";
        for (const wchar_t *p = s; *p != 0; ++p) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "%s%04x", p == s ? "" : " ", static_cast<unsigned>(*p));
            message += hex;
        }
        message += "]";
    };
    append(expected);
    message += ", got ";
    append(actual);
    Report(file, line, message.c_str());
}

}  // namespace zavtest
