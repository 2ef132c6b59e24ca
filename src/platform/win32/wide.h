// UTF-16 texts of the wide-character Win32 functions, to and from the 8-bit
// texts of the rest of the library (ANSI or UTF-8).
#pragma once
#include <windows.h>

#include <string>

namespace qp {

// `text` of code page `cp` as UTF-16; invalid bytes become U+FFFD.
std::wstring to_wide(const char* text, UINT cp);

// UTF-16 as code page `cp`. For a code page other than UTF-8, *exact (when
// given) tells whether every character had a form there (no default
// character and no best-fit substitute was used).
std::string from_wide(const wchar_t* text, UINT cp, bool* exact = nullptr);

}  // namespace qp
