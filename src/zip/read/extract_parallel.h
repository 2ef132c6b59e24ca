// Extracting the entries of an archive file with worker threads.
#pragma once

#include "zip/format/zip_result.h"

namespace quillon {

// Extracts every entry of the archive behind `h` (opened from the file
// `archive`, with its base folder set from `folder`) the way a loop of
// GetZipItem and UnzipItem over the entries would, leaving the same files
// with the same bytes, times and attributes. Up to `threads` workers extract
// entries, each reading the archive through its own handle, inflater and
// buffers. Entries that land on one file, or where one needs as a folder
// what another makes as a file, run in archive order on one worker. The
// calling thread describes the entries and records the results; every
// worker has ended when this returns. True when every entry's result is
// ZIPR_OK.
bool unzip_entries_parallel(HZIP h, const char* archive, const char* folder, int count, unsigned threads);

}  // namespace quillon
