// Placeholders of the registration strings: %FriendlyName%, %MODULE%, %MODULETYPE%, %APPID% and
// %MODULEGUID%, their names compared without regard to case.
#pragma once

#include <windows.h>

namespace zavsrv {

// The values the placeholders stand for at one registration.
struct PlaceholderValues {
    const WCHAR *module;      // the library file's full path
    const WCHAR *moduleGuid;  // the type library's identifier, 38 characters with braces
};

// Writes text with every placeholder replaced into out (capacity characters, zero included).
// E_FAIL for a placeholder that is unknown, longer than 31 characters or not closed, and for a
// result that does not fit.
HRESULT ExpandPlaceholders(const WCHAR *text, const PlaceholderValues &values, WCHAR *out,
                           size_t capacity);

}  // namespace zavsrv
