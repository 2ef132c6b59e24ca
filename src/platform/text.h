// Texts between the system's code page and UTF-8. On Windows the system's
// texts are ANSI (the active code page); elsewhere they are bytes, which the
// rest of the library takes to be UTF-8 when they are valid UTF-8.
#pragma once
#include <string>

namespace qp {

// A text of the system's code page as UTF-8. Elsewhere than on Windows the
// bytes come back unchanged.
std::string system_to_utf8(const char* text);

// A UTF-8 text in the system's code page. False when some character has no
// exact form there (*out then holds the nearest the system offers); on POSIX
// systems the bytes come back unchanged and the result is true.
bool utf8_to_system(const char* utf8, std::string* out);

}  // namespace qp
