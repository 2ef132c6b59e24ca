#include "zip/api/unzip_export.h"

#include <vector>

#include "platform/file.h"
#include "zip/api/close_handle.h"
#include "zip/api/export_threads.h"
#include "zip/format/zip_result.h"
#include "zip/read/reader.h"
#include "zip/read/extract_parallel.h"

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
  // Folder items get their times last: each file made in a folder moves its
  // times again.
  bool whole = true;
  std::vector<int> folders;
  for (int i = 0; i < count; ++i) {
    const bool described = GetZipItem(h, i, &entry) == ZIPR_OK;
    // An entry that cannot be described fails here too, under an empty name.
    const bool landed = UnzipItem(h, i, entry.name) == ZIPR_OK;
    if (!landed) whole = false;
    if (landed && described && (entry.attributes & qp::kAttrDirectory)) folders.push_back(i);
  }
  for (int i : folders) RestoreFolderTimes(h, i);
  return whole ? 1 : 0;
}

}  // namespace quillon
