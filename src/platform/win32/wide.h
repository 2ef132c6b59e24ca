// UTF-8 and the system's ANSI code page to and from the UTF-16 texts of the
// wide-character Win32 functions.
#pragma once
#include <windows.h>

#include <string>

namespace qp {

// The UTF-16 form of a UTF-8 text; false for a text that is not valid UTF-8.
bool wide_from_utf8(const char* utf8, std::wstring* out);
// The UTF-8 form of a UTF-16 text (unpaired surrogates become U+FFFD).
std::string utf8_from_wide(const wchar_t* text, size_t n);

}  // namespace qp
