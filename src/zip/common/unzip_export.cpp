#include "zip/common/unzip_export.h"

#include "zip/common/close_handle.h"
#include "zip/common/export_threads.h"
#include "zip/common/zip_result.h"
#include "zip/unzip/unzip.h"
#include "zip/unzip/unzip_parallel.h"

namespace quillon {

namespace {

// Closes the handle however the body is left, memory running out included.
struct HandleCloser {
  HZIP h;
  ~HandleCloser() {
    if (IsZipHandleU(h)) {
      CloseZipU(h);
    } else {
      CloseZipZ(h);
    }
  }
};

}  // namespace

double unzip_archive(const char* archive, const char* folder) {
  return unzip_archive(archive, folder, export_thread_count());
}

double unzip_archive(const char* archive, const char* folder, unsigned threads) {
  // Without a folder there is nowhere to put the entries: the archive is
  // not opened, as if it could not be.
  HandleCloser closer{folder != nullptr ? OpenZip(archive, nullptr) : nullptr};
  SetUnzipBaseDir(closer.h, folder);
  ZIPENTRY entry;
  GetZipItem(closer.h, -1, &entry);
  const int count = entry.index;
  if (threads > 1 && count > 1) {
    unzip_entries_parallel(closer.h, archive, folder, count, threads);
    return 1;
  }
  for (int i = 0; i < count; ++i) {
    GetZipItem(closer.h, i, &entry);
    UnzipItem(closer.h, i, entry.name);
  }
  return 1;
}

}  // namespace quillon
