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

// The form of a path (UTF-8 when `utf8`, else in the ANSI code page) for
// the wide-character file and folder functions when it is too long for
// their plain forms: when its absolute form reaches MAX_PATH less the 12
// characters that folders keep for an 8.3 name, *out receives that absolute
// form behind the "\\?\" prefix ("\\?\UNC\" for a network path), which the
// system takes up to 32,767 characters. Such a path is no longer
// normalised by the system, so the absolute form comes from
// GetFullPathNameW: the same file the plain forms would name ('/' made '\\',
// "." and ".." resolved, trailing dots and blanks dropped as there). False
// when the plain forms take the path, and for a path without such a form
// (not valid text, or too long even so), whose plain call then fails.
bool long_path_form(const char* path, bool utf8, std::wstring* out);

}  // namespace qp
