#include "platform/pathname.h"

namespace qp {

bool is_device_name(const char*, size_t) { return false; }

}  // namespace qp

namespace qp {

std::string step_identity(const char* step, size_t len) { return std::string(step, len); }

}  // namespace qp
