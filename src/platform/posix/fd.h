// Handles on POSIX systems are file descriptors shifted by one, so that the
// null handle means "none" and kInvalidHandle (-1) stays distinct from fd 0.
#pragma once
#include <cstdint>

#include "platform/handle.h"

namespace qp {

inline Handle handle_from_fd(int fd) { return reinterpret_cast<Handle>(static_cast<intptr_t>(fd) + 1); }
inline int fd_from_handle(Handle h) { return static_cast<int>(reinterpret_cast<intptr_t>(h) - 1); }

}  // namespace qp
