// Reading the registry in the test host.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace zavtest {

bool KeyExists(HKEY root, const std::wstring &path);
// Names of the subkeys, or of the values ("" for the default value), sorted.
std::vector<std::wstring> SubkeyNames(HKEY root, const std::wstring &path);
std::vector<std::wstring> ValueNames(HKEY root, const std::wstring &path);
// The whole content below path (keys, value names, types and bytes) as one comparable text.
std::wstring DumpTree(HKEY root, const std::wstring &path);

// Checks a REG_SZ value: exact text, stored with its terminating zero.
void ExpectString(HKEY root, const std::wstring &path, const wchar_t *name,
                  const std::wstring &expected, const char *file, int line);

}  // namespace zavtest

#define EXPECT_REG_SZ(path, name, expected) \
    zavtest::ExpectString(HKEY_CLASSES_ROOT, path, name, expected, __FILE__, __LINE__)
