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
