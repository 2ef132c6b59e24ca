#include "zip/common/unzip_export.h"

#include "zip/common/zip_result.h"
#include "zip/unzip/unzip.h"

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
  // Without a folder there is nowhere to put the entries: the archive is
  // not opened, as if it could not be.
  HandleCloser closer{folder != nullptr ? OpenZip(archive, nullptr) : nullptr};
  SetUnzipBaseDir(closer.h, folder);
  ZIPENTRY entry;
  GetZipItem(closer.h, -1, &entry);
  const int count = entry.index;
  for (int i = 0; i < count; ++i) {
    GetZipItem(closer.h, i, &entry);
    UnzipItem(closer.h, i, entry.name);
  }
  return 1;
}

}  // namespace quillon
