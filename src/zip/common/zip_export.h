// The body of the ZIP export.
#pragma once

namespace quillon {

// Creates `zipfile` and adds every entry that the listing of `folder` names,
// each opened by its bare name from the current directory. Prints each name.
void zip_folder(const char* zipfile, const char* folder);

}  // namespace quillon
