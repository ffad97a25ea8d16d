// File names: the narrow (UTF-8) form of a UTF-16 name, and the check every name passes before a
// file is opened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "imaging/files/name_rules.h"

namespace zav {

// The UTF-8 form of a UTF-16 name, read up to its first NUL. An unpaired surrogate becomes "?",
// which the name check refuses. A null name gives nothing.
std::optional<std::string> Utf16ToUtf8Name(const char16_t *name);

// Checks a NUL-terminated narrow name and gives its normalized copy (backslashes as slashes).
// Works on single bytes: bytes of 80 hex and above pass unchanged, so the second byte of a
// double-byte character is examined like any other byte when it is below 80 hex.
// Returns ZAV_FILE_OK, ZAV_FILE_NO_NAME (null or empty), ZAV_FILE_NAME_REFUSED plus the first
// refused character (* ? " < > ; |) or ZAV_FILE_NAME_TOO_LONG (more than 259 bytes).
int32_t NormalizeImageFileName(const char *name, std::string *normalized);

}  // namespace zav
