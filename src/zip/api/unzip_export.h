// The body of the UNZIP export: a whole archive extracted into a folder.
#pragma once

namespace quillon {

// Extracts every entry of the archive file into `folder` (made when
// missing), each at its cleaned name; one entry's failure does not stop the
// others. Folder entries get their stored times once every entry is done
// (folders made only because a file lies in them keep the time they were
// made). Prints nothing. The result is 1 when every entry landed whole, 0
// when the archive cannot be opened or any entry failed (refused, skipped,
// damaged, or its file could not be written). With more than one thread,
// workers extract the entries; what lands on disk is the same.
double unzip_archive(const char* archive, const char* folder, unsigned threads);
// As above, with the thread count the environment asks for.
double unzip_archive(const char* archive, const char* folder);

}  // namespace quillon
