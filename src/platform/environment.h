// The process's environment variables.
#pragma once
#include <string>

namespace qp {

// The value of the environment variable `name`; false when it is not set.
// On Windows the process's own block is read, so that a variable a host
// sets after loading the library is seen too.
bool environment_value(const char* name, std::string* value);

}  // namespace qp
