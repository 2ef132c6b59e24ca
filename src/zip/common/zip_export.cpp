// The body of the ZIP export: every entry of a folder listing, opened by its
// bare name (so from the current directory), becomes an item of a new
// archive file. Names are printed as they come; nothing else is reported.
#include "zip/common/zip_export.h"

#include <cerrno>
#include <cstdio>

#include "platform/dir.h"
#include "zip/common/zip_result.h"
#include "zip/zip/zip.h"

namespace quillon {

void zip_folder(const char* zipfile, const char* folder) {
  HZIP h = CreateZip(zipfile, nullptr);
  qp::Listing* listing = folder ? qp::open_listing(folder) : nullptr;
  if (listing == nullptr) {
    if (folder == nullptr) errno = ENOENT;
    std::perror("Couldn't open the directory");
  } else {
    // ".", "..", folders and names missing from the current directory
    // cannot be opened as files and add nothing; nor can the archive
    // itself, which is held without sharing while it is written.
    while (const char* name = qp::next_entry(listing)) {
      std::puts(name);
      ZipAdd(h, name, name);
    }
    qp::close_listing(listing);
  }
  if (IsZipHandleU(h)) {
    CloseZipU(h);
  } else {
    CloseZipZ(h);
  }
}

}  // namespace quillon
