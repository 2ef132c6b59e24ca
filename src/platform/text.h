// Texts in the system's 8-bit encoding and in UTF-8.
//
// The library's texts (export arguments, the archive API's names and paths)
// are in the system's 8-bit encoding: the ANSI code page on Windows, bytes
// passed through unchanged on POSIX systems (where names are bytes, UTF-8 by
// custom). Archives may carry names in UTF-8; these helpers move between the
// two, and the *_utf8 file functions of file.h, dir.h and fileinfo.h take
// UTF-8 paths, so that a name that has no form in the code page can still be
// created and opened.
#pragma once
#include <cstddef>
#include <string>

namespace qp {

// True when system texts are UTF-8 already (POSIX systems; Windows with
// UTF-8 as its ANSI code page): then the conversions below copy.
bool system_text_is_utf8();

// A system text in UTF-8. A byte sequence the code page does not define is
// carried over as the code page's own conversion gives it.
std::string utf8_from_system(const char* text);

// A UTF-8 text in the system encoding; characters that have no form there
// become '?' and clear *exact (when given). False, with `out` empty, for a
// text that is not valid UTF-8.
bool system_from_utf8(const char* utf8, std::string* out, bool* exact);

// True when the n bytes at s are well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF).
bool is_valid_utf8(const char* s, size_t n);

// The number of UTF-16 units that a valid UTF-8 text takes: what Windows
// counts against its path limit.
size_t utf16_length(const char* utf8, size_t n);

}  // namespace qp
