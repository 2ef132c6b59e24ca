// platform/file.h on POSIX systems: files by handle. A handle is a file descriptor plus one, so
// that a null handle means "none" as it does on Windows.
//
// Windows refuses a second open of a file that is held without sharing; the
// library relies on that (an archive being written is never read into itself,
// an extracted entry never overwrites the archive it comes from). Here a small
// registry of the files this process opened through this layer gives the same
// answers.
#include "platform/file.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <utility>

#include "platform/posix/fd.h"

namespace qp {
namespace {

using FileKey = std::pair<dev_t, ino_t>;

struct OpenFile {
  FileKey key;
  bool exclusive;
  bool regular;
};

// The library is single-threaded by contract, and this lock does not change
// that: it does not make the check and the open below one atomic step, and
// nothing else in the library is locked. It is here because this registry is
// the one piece of library state that handles outside the library's thread
// reach. A pipe's far end, or a handle given to the archive code, may be
// opened or closed on another thread while the library works on its own
// (the writer tests drain and feed pipes from threads of their own), and the
// workers of the ZIP and UNZIP exports open and close files side by side;
// an unguarded std::map would be corrupted by that. Those workers never
// write a file that another thread opens meanwhile, so the gap between the
// check and the open does not matter to them. The lock is uncontended in
// normal use and costs nothing next to the system call beside it.
struct Registry {
  std::mutex lock;
  std::map<int, OpenFile> by_fd;
  std::map<FileKey, int> readers;
  std::map<FileKey, int> writers;
};

Registry& registry() {
  static Registry* r = new Registry;  // never destroyed: handles may outlive static destruction
  return *r;
}

bool held(Registry& r, const FileKey& key, bool count_readers) {
  auto w = r.writers.find(key);
  if (w != r.writers.end() && w->second > 0) return true;
  if (!count_readers) return false;
  auto rd = r.readers.find(key);
  return rd != r.readers.end() && rd->second > 0;
}

void enroll(int fd, const struct stat& st, bool exclusive) {
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  FileKey key{st.st_dev, st.st_ino};
  // Either both entries are made or neither: memory running out in the
  // second undoes the first.
  auto& counts = exclusive ? r.writers : r.readers;
  int& count = counts[key];
  try {
    r.by_fd[fd] = OpenFile{key, exclusive, S_ISREG(st.st_mode)};
  } catch (...) {
    if (count == 0) counts.erase(key);
    throw;
  }
  count += 1;
}

// Opens with the registry's rules: refuses what an unshared Windows open
// would refuse. `exclusive` opens conflict with every other open.
int open_checked(const char* path, int flags, mode_t mode, bool exclusive) {
  struct stat before;
  if (stat(path, &before) == 0) {
    if (S_ISDIR(before.st_mode)) {
      errno = EISDIR;
      return -1;
    }
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    if (held(r, FileKey{before.st_dev, before.st_ino}, exclusive)) {
      errno = EBUSY;
      return -1;
    }
  }
  int fd = open_without_waiting(path, flags, mode);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return -1;
  }
  try {
    enroll(fd, st, exclusive);
  } catch (...) {
    ::close(fd);  // not enrolled: the caller never sees it
    throw;
  }
  return fd;
}

bool is_known_regular(int fd) {
  Registry& r = registry();
  std::lock_guard<std::mutex> g(r.lock);
  auto it = r.by_fd.find(fd);
  return it != r.by_fd.end() && it->second.regular;
}

}  // namespace

int open_without_waiting(const char* path, int flags, unsigned mode) {
  // Opened for reading and writing, a FIFO is its own reader: the open never
  // fails and a write blocks for ever once the pipe is full. Nothing in the
  // library reads back what it writes, so a FIFO is opened for writing only
  // and refuses to open when nobody reads it.
  struct stat st;
  if ((flags & O_ACCMODE) == O_RDWR && stat(path, &st) == 0 && S_ISFIFO(st.st_mode))
    flags = (flags & ~O_ACCMODE) | O_WRONLY;
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC | O_NONBLOCK, static_cast<mode_t>(mode));
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  const int status = fcntl(fd, F_GETFL);
  if (status == -1 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) == -1) {
    ::close(fd);
    return -1;
  }
  return fd;
}

Handle open_read_shared(const char* path) {
  if (path == nullptr) return kInvalidHandle;
  int fd = open_checked(path, O_RDONLY, 0, false);
  return fd < 0 ? kInvalidHandle : handle_from_fd(fd);
}

Handle create_exclusive(const char* path, uint32_t attributes) {
  if (path == nullptr) return kInvalidHandle;
  int fd = open_checked(path, O_WRONLY | O_CREAT | O_TRUNC, 0666, true);
  if (fd < 0) return kInvalidHandle;
  if (attributes & kAttrReadOnly) {
    struct stat st;
    if (fstat(fd, &st) == 0) fchmod(fd, st.st_mode & ~mode_t(0222));
  }
  return handle_from_fd(fd);
}

Handle create_new(const char* path, uint32_t attributes) {
  if (path == nullptr) return kInvalidHandle;
  int fd = open_checked(path, O_WRONLY | O_CREAT | O_EXCL, 0666, true);
  if (fd < 0) return kInvalidHandle;
  if (attributes & kAttrReadOnly) {
    struct stat st;
    if (fstat(fd, &st) == 0) fchmod(fd, st.st_mode & ~mode_t(0222));
  }
  return handle_from_fd(fd);
}

Handle create_new_utf8(const char* path, uint32_t attributes) { return create_new(path, attributes); }

bool replace_file(const char* from, const char* to) { return from && to && ::rename(from, to) == 0; }

bool replace_file_utf8(const char* from, const char* to) { return replace_file(from, to); }

bool discard_new(const char* path) { return delete_file(path); }

bool discard_new_utf8(const char* path) { return delete_file(path); }

bool may_replace(const char* path, bool* exists) {
  *exists = false;
  if (path == nullptr) return false;
  struct stat st;
  if (stat(path, &st) != 0) return errno == ENOENT;  // nothing there, or a link to nothing
  if (!S_ISREG(st.st_mode)) return false;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    if (held(r, FileKey{st.st_dev, st.st_ino}, true)) return false;
  }
  // Whether this process may write it, by the same rules as the truncating
  // open (owner, mode, the superuser, a read-only mount), without truncating.
  const int fd = open_without_waiting(path, O_WRONLY, 0);
  if (fd < 0) return false;
  ::close(fd);
  *exists = true;
  return true;
}

bool may_replace_utf8(const char* path, bool* exists) { return may_replace(path, exists); }

Handle open_read_shared_utf8(const char* path) { return open_read_shared(path); }

Handle create_exclusive_utf8(const char* path, uint32_t attributes) { return create_exclusive(path, attributes); }

Handle open_read_write(const char* path) {
  if (path == nullptr) return kInvalidHandle;
  int fd = open_checked(path, O_RDWR | O_CREAT, 0666, true);
  return fd < 0 ? kInvalidHandle : handle_from_fd(fd);
}

bool read_file(Handle h, void* buf, uint32_t n, uint32_t* done) {
  int fd = fd_from_handle(h);
  uint32_t got = 0;
  bool ok = true;
  while (got < n) {
    ssize_t r = ::read(fd, static_cast<char*>(buf) + got, n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      ok = false;
      break;
    }
    if (r == 0) break;
    got += static_cast<uint32_t>(r);
  }
  if (done) *done = ok ? got : 0;
  return ok;
}

bool write_file(Handle h, const void* buf, uint32_t n, uint32_t* done) {
  int fd = fd_from_handle(h);
  // A pipe whose reader has gone raises SIGPIPE, which would end the host's
  // process. Writes to a stream we did not open ourselves keep the signal
  // blocked and consume it, so the write simply fails as it does on Windows.
  bool guard = !is_known_regular(fd);
  sigset_t pipe_set, old_set;
  bool was_pending = false;
  if (guard) {
    sigemptyset(&pipe_set);
    sigaddset(&pipe_set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_set, &old_set);
    sigset_t pending;
    if (sigpending(&pending) == 0) was_pending = sigismember(&pending, SIGPIPE) == 1;
  }
  uint32_t put = 0;
  bool ok = true;
  while (put < n) {
    ssize_t w = ::write(fd, static_cast<const char*>(buf) + put, n - put);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      ok = false;
      break;
    }
    put += static_cast<uint32_t>(w);
  }
  if (guard) {
    if (!ok && errno == EPIPE && !was_pending) {
      struct timespec zero = {0, 0};
      while (sigtimedwait(&pipe_set, nullptr, &zero) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_set, nullptr);
  }
  if (done) *done = ok ? put : 0;
  return ok;
}

uint32_t set_file_pointer(Handle h, int32_t distance, SeekFrom from) {
  // Absolute positions count up to 4 GiB; relative moves are signed.
  off_t offset = from == SeekFrom::Begin ? off_t(uint32_t(distance)) : off_t(distance);
  int whence = from == SeekFrom::Begin ? SEEK_SET : from == SeekFrom::Current ? SEEK_CUR : SEEK_END;
  off_t pos = ::lseek(fd_from_handle(h), offset, whence);
  if (pos < 0 || pos >= off_t(kNoPosition)) return kNoPosition;
  return static_cast<uint32_t>(pos);
}

uint64_t seek_file(Handle h, int64_t distance, SeekFrom from) {
  static_assert(sizeof(off_t) == 8, "file positions need 64 bits");
  int whence = from == SeekFrom::Begin ? SEEK_SET : from == SeekFrom::Current ? SEEK_CUR : SEEK_END;
  off_t pos = ::lseek(fd_from_handle(h), static_cast<off_t>(distance), whence);
  if (pos < 0) return kNoPosition64;
  return static_cast<uint64_t>(pos);
}

uint32_t file_size(Handle h) {
  struct stat st;
  if (fstat(fd_from_handle(h), &st) != 0) return kNoPosition;
  return static_cast<uint32_t>(st.st_size);
}

bool close_handle(Handle h) {
  if (!is_valid(h)) return false;
  int fd = fd_from_handle(h);
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> g(r.lock);
    auto it = r.by_fd.find(fd);
    if (it != r.by_fd.end()) {
      auto& counts = it->second.exclusive ? r.writers : r.readers;
      if (--counts[it->second.key] <= 0) counts.erase(it->second.key);
      r.by_fd.erase(it);
    }
  }
  return ::close(fd) == 0;
}

bool create_pipe(Handle* read_end, Handle* write_end) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  *read_end = handle_from_fd(fds[0]);
  *write_end = handle_from_fd(fds[1]);
  return true;
}

}  // namespace qp

namespace qp {

bool delete_file(const char* path) { return path && ::unlink(path) == 0; }

bool delete_writable_file(const char* path) {
  struct stat st;
  if (path == nullptr || lstat(path, &st) != 0) return false;
  // Permissions do not stop unlink (the folder's do, and not for the
  // superuser); the owner-write bit, which makes a file read-only here as
  // the read-only attribute does on Windows, is tested instead.
  if (!S_ISLNK(st.st_mode) && !(st.st_mode & S_IWUSR)) {
    errno = EACCES;
    return false;
  }
  return ::unlink(path) == 0;
}

}  // namespace qp
