// The body of the ZIP export.
#pragma once

namespace quillon {

// Creates `zipfile` and adds every entry that the listing of `folder` names,
// each opened by its bare name from the current directory. Prints each name.
// With more than one thread, workers compress files ahead of the calling
// thread; the archive is the same byte for byte. The result is 1 when the
// archive holds every listed file (the listing's "." and "..", folders and
// the archive itself are no files to hold), 0 otherwise. A file that cannot
// be read is left out and the others are kept; an archive that could not be
// written whole is removed, since this call made it.
double zip_folder(const char* zipfile, const char* folder, unsigned threads);
// As above, with the thread count the environment asks for.
double zip_folder(const char* zipfile, const char* folder);

}  // namespace quillon
