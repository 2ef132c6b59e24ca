// Path steps that the system treats specially.
#pragma once
#include <cstddef>

namespace qp {

// True when one path step (`len` bytes, no separators) names a device rather
// than a file wherever it appears in a path: CON, PRN, AUX, NUL, COM1-COM9,
// LPT1-LPT9 on Windows, in any case and with any extension. Never on POSIX
// systems, where these are ordinary names.
bool is_device_name(const char* step, size_t len);

}  // namespace qp

#include <string>

namespace qp {

// A path step in a form that is equal for every two steps the system may
// take for the same file: on POSIX systems the step itself; on Windows with
// letter case folded and trailing dots and blanks dropped, and with every
// byte beyond ASCII made one and the same (so that names whose case differs
// in other letters are taken as possibly equal too).
std::string step_identity(const char* step, size_t len);

}  // namespace qp
