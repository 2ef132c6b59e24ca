// platform/pathname.h on POSIX systems, where no file name is a device.
#include "platform/pathname.h"

namespace qp {

bool is_device_name(const char*, size_t) { return false; }

}  // namespace qp
