// The one exception type of the digest wrappers. It has no base class, so it
// is caught as HashError only.
#pragma once
#include <string>
#include <utility>

namespace quillon {

enum HashErrorCode {
  kHashFileReadError = 1,  // a file cannot be opened for reading
};

class HashError {
 public:
  HashError(HashErrorCode code, std::string message) : code(code), message(std::move(message)) {}

  HashErrorCode error_number() const { return code; }
  const std::string& error_message() const { return message; }

  HashErrorCode code;
  std::string message;
};

}  // namespace quillon
