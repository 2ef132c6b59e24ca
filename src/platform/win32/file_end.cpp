// platform/file_end.h on Windows: SetEndOfFile.
#include "platform/file_end.h"

#include <windows.h>

namespace qp {

bool set_end_of_file(Handle h) { return is_valid(h) && SetEndOfFile(static_cast<HANDLE>(h)) != 0; }

}  // namespace qp
