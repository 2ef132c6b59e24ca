// The body of the ZIP export.
#pragma once

namespace quillon {

// Creates `zipfile` and adds every entry that the listing of `folder` names,
// each opened by its bare name from the current directory. Prints each name.
// With more than one thread, workers compress files ahead of the calling
// thread; the archive is the same byte for byte.
void zip_folder(const char* zipfile, const char* folder, unsigned threads);
// As above, with the thread count the environment asks for.
void zip_folder(const char* zipfile, const char* folder);

}  // namespace quillon
