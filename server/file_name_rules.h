// The rules a Windows file name must pass before the server opens a file by it.
#pragma once

#include <stddef.h>

namespace zavsrv {

// The longest name accepted, in bytes of the ANSI code page, without the terminating zero.
inline constexpr size_t kMaxImageFileName = 259;

// Copies the narrow name into out (kMaxImageFileName + 1 bytes), backslashes turned into slashes,
// and returns its length. Returns -1, leaving out unspecified, for a name holding any of
// * ? " < > ; | or longer than kMaxImageFileName bytes. The test works byte by byte: the trail
// byte of a double-byte character is examined like any other byte below 0x80.
int NormalizeImageFileName(const char *name, char (&out)[kMaxImageFileName + 1]);

}  // namespace zavsrv
