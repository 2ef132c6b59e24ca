#include "zip/common/unzip_export.h"

#include "zip/common/close_handle.h"
#include "zip/common/export_threads.h"
#include "zip/common/zip_result.h"
#include "zip/unzip/unzip.h"
#include "zip/unzip/unzip_parallel.h"

namespace quillon {

double unzip_archive(const char* archive, const char* folder) {
  return unzip_archive(archive, folder, export_thread_count());
}

double unzip_archive(const char* archive, const char* folder, unsigned threads) {
  // Without a folder there is nowhere to put the entries: the archive is
  // not opened, as if it could not be.
  ScopedArchive archive_handle(folder != nullptr ? OpenZip(archive, nullptr) : nullptr);
  const HZIP h = archive_handle.get();
  SetUnzipBaseDir(h, folder);
  ZIPENTRY entry;
  GetZipItem(h, -1, &entry);
  if (h == nullptr) return 0;
  const int count = entry.index;
  if (threads > 1 && count > 1) return unzip_entries_parallel(h, archive, folder, count, threads) ? 1 : 0;
  bool whole = true;
  for (int i = 0; i < count; ++i) {
    GetZipItem(h, i, &entry);
    // An entry that cannot be described fails here too, under an empty name.
    if (UnzipItem(h, i, entry.name) != ZIPR_OK) whole = false;
  }
  return whole ? 1 : 0;
}

}  // namespace quillon
