// platform/fileinfo.h on POSIX systems: attributes, sizes and times from stat.
#include "platform/fileinfo.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include "platform/file.h"
#include "platform/posix/fd.h"
#include "platform/time.h"

namespace qp {
namespace {

uint64_t ticks(const struct timespec& ts) {
  return uint64_t(int64_t(ts.tv_sec) * 10000000LL + ts.tv_nsec / 100 + int64_t(kUnixEpochTicks));
}

struct timespec timespec_of(uint64_t ft) {
  int64_t t = int64_t(ft) - int64_t(kUnixEpochTicks);
  int64_t sec = t / 10000000LL, rem = t % 10000000LL;
  if (rem < 0) {
    rem += 10000000LL;
    sec -= 1;
  }
  struct timespec ts;
  ts.tv_sec = static_cast<time_t>(sec);
  ts.tv_nsec = static_cast<long>(rem * 100);
  return ts;
}

// The access and write time for futimens and utimensat; a time not given
// stays as it is.
void access_and_write(const uint64_t* access, const uint64_t* write, struct timespec ts[2]) {
  ts[0].tv_nsec = UTIME_OMIT;
  ts[1].tv_nsec = UTIME_OMIT;
  ts[0].tv_sec = ts[1].tv_sec = 0;
  if (access) ts[0] = timespec_of(*access);
  if (write) ts[1] = timespec_of(*write);
}

uint32_t attributes_of(mode_t mode) {
  uint32_t a = 0;
  if (!(mode & S_IWUSR)) a |= kAttrReadOnly;
  if (S_ISDIR(mode)) a |= kAttrDirectory;
  if (S_ISREG(mode)) a |= kAttrArchive;
  return a;
}

// Fills `info` from what stat gave, and the birth time from statx where the
// file system keeps one (the last write otherwise); `dirfd`, `path` and
// `flags` name the file for statx as they would for fstatat.
void fill_info(const struct stat& st, int dirfd, const char* path, int flags, FileInfo* info) {
  info->attributes = attributes_of(st.st_mode);
  info->size = static_cast<uint64_t>(st.st_size);
  info->access_time = ticks(st.st_atim);
  info->write_time = ticks(st.st_mtim);
  info->creation_time = info->write_time;
  struct statx sx;
  if (statx(dirfd, path, flags, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME)) {
    struct timespec b;
    b.tv_sec = sx.stx_btime.tv_sec;
    b.tv_nsec = sx.stx_btime.tv_nsec;
    info->creation_time = ticks(b);
  }
  info->has_unix_mode = true;
  info->unix_mode = st.st_mode;
}

}  // namespace

bool get_file_info(Handle h, FileInfo* info) {
  int fd = fd_from_handle(h);
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  fill_info(st, fd, "", AT_EMPTY_PATH, info);
  return true;
}

uint32_t get_file_attributes(const char* path) {
  struct stat st;
  if (path == nullptr || stat(path, &st) != 0) return kNoPosition;
  return attributes_of(st.st_mode);
}

uint32_t get_file_attributes_utf8(const char* path) { return get_file_attributes(path); }

bool set_unix_permissions(Handle h, uint32_t mode) {
  return fchmod(fd_from_handle(h), static_cast<mode_t>(mode & 0777)) == 0;
}

bool set_file_times(Handle h, const uint64_t* creation, const uint64_t* access, const uint64_t* write) {
  (void)creation;  // a creation time cannot be set here; it is skipped
  struct timespec ts[2];
  access_and_write(access, write, ts);
  return futimens(fd_from_handle(h), ts) == 0;
}

bool set_folder_times(const char* path, const uint64_t* creation, const uint64_t* access, const uint64_t* write) {
  (void)creation;
  struct stat st;
  if (path == nullptr || lstat(path, &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  struct timespec ts[2];
  access_and_write(access, write, ts);
  // Not through a link: one put in the folder's place meanwhile keeps its target's times.
  return utimensat(AT_FDCWD, path, ts, AT_SYMLINK_NOFOLLOW) == 0;
}

bool set_folder_times_utf8(const char* path, const uint64_t* creation, const uint64_t* access,
                           const uint64_t* write) {
  return set_folder_times(path, creation, access, write);
}

bool folder_info_utf8(const char* path, FileInfo* info) {
  struct stat st;
  if (path == nullptr || lstat(path, &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  fill_info(st, AT_FDCWD, path, AT_SYMLINK_NOFOLLOW, info);
  info->size = 0;
  return true;
}

bool same_file(const char* a, const char* b) {
  struct stat sa, sb;
  if (a == nullptr || b == nullptr || stat(a, &sa) != 0 || stat(b, &sb) != 0) return false;
  if (S_ISCHR(sa.st_mode) || S_ISBLK(sa.st_mode)) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace qp

namespace qp {

bool regular_file_size(const char* path, uint64_t* size) {
  struct stat st;
  if (path == nullptr || stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool regular_file_size_utf8(const char* path, uint64_t* size) { return regular_file_size(path, size); }

}  // namespace qp
