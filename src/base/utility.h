// The directory and file helpers behind the utility exports.
#pragma once

namespace quillon {

// Lists the current directory on standard output and deletes each file in
// it; folders and read-only files stay. Reports an unreadable directory on
// standard error.
void remove_current_files();

// Copies source to destination byte by byte, writing '#' for every line feed.
// 1 when the copy ran to the size taken at the start; the number of bytes
// written when the source ended early; 0 when a file cannot be opened or the
// destination names the source.
double copy_with_hashes(const char* source, const char* destination);

// The first line of a file, line feed included, as fgets reads it with the
// file's size as capacity; null when the file cannot be opened.
char* first_line(const char* path);

}  // namespace quillon
