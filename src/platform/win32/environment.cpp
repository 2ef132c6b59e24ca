// platform/environment.h on Windows: the process's environment block.
#include "platform/environment.h"

#include <windows.h>

#include <vector>

namespace qp {

bool environment_value(const char* name, std::string* value) {
  std::vector<char> buf(256);
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD n = GetEnvironmentVariableA(name, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
      value->clear();  // set, and empty
      return true;
    }
    if (n < buf.size()) {
      value->assign(buf.data(), n);
      return true;
    }
    buf.resize(n);  // the size needed, terminator included
  }
}

}  // namespace qp
