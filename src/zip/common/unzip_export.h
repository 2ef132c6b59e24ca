// The body of the UNZIP export: a whole archive extracted into a folder.
#pragma once

namespace quillon {

// Extracts every entry of the archive file into `folder` (made when
// missing), each at its cleaned name; one entry's failure does not stop the
// others. Reports nothing: the result is always 1.
double unzip_archive(const char* archive, const char* folder);

}  // namespace quillon
