// platform/file_end.h on POSIX systems: cutting a file at its current position.
#include "platform/file_end.h"

#include <errno.h>
#include <unistd.h>

#include "platform/posix/fd.h"

namespace qp {

bool set_end_of_file(Handle h) {
  if (!is_valid(h)) return false;
  const int fd = fd_from_handle(h);
  const off_t here = ::lseek(fd, 0, SEEK_CUR);
  if (here < 0) return false;
  int r;
  do {
    r = ::ftruncate(fd, here);
  } while (r != 0 && errno == EINTR);
  return r == 0;
}

}  // namespace qp
