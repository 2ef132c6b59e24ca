// Path steps that the system treats specially.
#pragma once
#include <cstddef>
#include <string>

namespace qp {

// True when one path step (`len` bytes, no separators) names a device rather
// than a file wherever it appears in a path: CON, PRN, AUX, NUL, COM1-COM9,
// LPT1-LPT9 on Windows, in any case and with any extension. Never on POSIX
// systems, where these are ordinary names.
bool is_device_name(const char* step, size_t len);

// True when the system reads the step as the folder it stands in or as its
// parent: "." and "..". Windows drops trailing dots and blanks from every
// name, so there any step of dots and blanks only ("...", " ", ". .") is one
// of those two; on POSIX systems such steps are ordinary names.
bool is_dot_step(const char* step, size_t len);

// The length of the drive prefix ("C:", a letter and a colon) at the start
// of a step, 0 when there is none. Windows reads it as a drive (and a colon
// further on as the start of a stream name); on POSIX systems a colon is an
// ordinary character and there is never a prefix.
size_t drive_prefix_length(const char* step, size_t len);

// Turns the separators of a path into the ones the system reads. Windows
// reads '\\' and '/' alike and the path stays as it is; on POSIX systems
// '\\' is an ordinary character, so every '\\' becomes '/' for a path whose
// backslashes are meant as separators.
void use_system_separators(std::string* path);

// The longest path, and the longest step of one, that the system's file and
// folder functions take, counted as path_length counts. POSIX systems: PATH_MAX
// less its terminator (4,095 bytes) and NAME_MAX (255 bytes). Windows: the
// 32,767 UTF-16 units of the "\\?\" forms, which the file and folder
// functions of this layer use for long paths, and 255 units a step.
size_t longest_path();
size_t longest_step();

// The length of a path, or of one step, as those limits count it: bytes on
// POSIX systems; UTF-16 units on Windows, of a UTF-8 text when `utf8`, else
// of a system text.
size_t path_length(const char* text, size_t n, bool utf8);

}  // namespace qp

#include <string>

namespace qp {

// A path step in a form that is equal for every two steps the system may
// take for the same file: on POSIX systems the step itself; on Windows cut
// at a colon (a stream of the file before it), with trailing dots and
// blanks dropped and letter case folded, and with every byte beyond ASCII,
// '?' and the letters i, s and k made one class (letters beyond ASCII fold
// to them, and to each other, by the file system's own tables).
std::string step_identity(const char* step, size_t len);

// Whether the system may take the step for a name that its text does not
// show: on Windows a short 8.3 alias (a '~' before a digit); never on POSIX.
bool step_may_be_alias(const char* step, size_t len);

}  // namespace qp
