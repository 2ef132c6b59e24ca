// platform/stream.h on POSIX systems: standard streams and files by descriptor.
#include "platform/stream.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/posix/fd.h"

namespace qp {
namespace {

// The open(2) flags of an fopen mode ("r", "w" or "a", then "b" and "+" in
// any order), or -1 for a mode fopen would refuse.
int open_flags(const char* mode) {
  int flags;
  switch (mode[0]) {
    case 'r': flags = 0; break;
    case 'w': flags = O_CREAT | O_TRUNC; break;
    case 'a': flags = O_CREAT | O_APPEND; break;
    default: return -1;
  }
  const bool update = std::strchr(mode + 1, '+') != nullptr;
  if (update) return flags | O_RDWR;
  return flags | (mode[0] == 'r' ? O_RDONLY : O_WRONLY);
}

}  // namespace

FILE* open_stream(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr) return nullptr;
  const int flags = open_flags(mode);
  if (flags == -1) {
    errno = EINVAL;
    return nullptr;
  }
  const int fd = open_without_waiting(path, flags, 0666);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return nullptr;
  }
  // A FIFO asked for with "+" is opened for writing only (see
  // open_without_waiting); its stream must not ask for reading.
  const bool write_only = (fcntl(fd, F_GETFL) & O_ACCMODE) == O_WRONLY;
  FILE* f = fdopen(fd, write_only ? (mode[0] == 'a' ? "ab" : "wb") : mode);
  if (f == nullptr) ::close(fd);
  return f;
}

}  // namespace qp
