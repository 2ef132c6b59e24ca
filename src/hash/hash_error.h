// The one exception type of the digest wrappers. It has no base class, so it
// is caught as hlException only.
#pragma once
#include <string>
#include <utility>

namespace quillon {

enum hlerrors {
  hlFileReadError = 1,  // a file cannot be opened for reading
};

class hlException {
 public:
  hlException(hlerrors code, std::string message) : code(code), message(std::move(message)) {}

  hlerrors error_number() const { return code; }
  const std::string& error_message() const { return message; }

  hlerrors code;
  std::string message;
};

}  // namespace quillon
