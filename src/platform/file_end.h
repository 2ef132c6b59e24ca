// Cutting a file short: the end of the file moves to its current position.
#pragma once

#include "platform/handle.h"

namespace qp {

// Makes the current position of `h` the end of its file: bytes beyond it are
// dropped. False on a handle that is not a file open for writing.
bool set_end_of_file(Handle h);

}  // namespace qp
