// Where a loaded library came from, and the version its file carries.
#pragma once
#include <string>

namespace qp {

// The file a library loaded by load_library() came from (the system's
// loader may have found it by a bare name); empty when unknown.
std::string library_file(void* library);

// The version a library file records, as dotted numbers ("0.1.1.218"):
// the version resource on Windows, the "@(#)NAME VERSION" mark elsewhere.
// Empty when the file has none or cannot be read.
std::string file_version(const std::string& path);

}  // namespace qp
