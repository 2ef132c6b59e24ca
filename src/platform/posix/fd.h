// Handles on POSIX systems are file descriptors shifted by one, so that the
// null handle means "none" and kInvalidHandle (-1) stays distinct from fd 0.
#pragma once
#include <cstdint>

#include "platform/handle.h"

namespace qp {

inline Handle handle_from_fd(int fd) { return reinterpret_cast<Handle>(static_cast<intptr_t>(fd) + 1); }
inline int fd_from_handle(Handle h) { return static_cast<int>(reinterpret_cast<intptr_t>(h) - 1); }

// open(2) that never waits for the other end of a named pipe: a FIFO with no
// writer opens for reading and reads as empty, one with no reader refuses to
// open for writing. Windows has no such files, and no call of the library may
// hang on one. The descriptor is blocking again once it is open.
int open_without_waiting(const char* path, int flags, unsigned mode);

}  // namespace qp
