// Modules: the library's own instance, and loading a library at run time.
#pragma once
#include <string>

namespace qp {

// The instance handle of a loaded module by name (null name: the program).
// Null when no such module is loaded.
void* module_handle(const char* name);

// Loads a dynamic library; null on failure (load_error() tells why).
void* load_library(const char* path);
void* find_symbol(void* library, const char* name);
std::string load_error();

// Folder of the running program, with a trailing separator.
std::string program_dir();

// Standard output passes bytes unchanged (no line-end translation).
void set_stdout_binary();

}  // namespace qp
