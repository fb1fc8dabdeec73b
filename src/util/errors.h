// Exception types shared by every module. Each carries the text the user sees.
#pragma once

#include <stdexcept>
#include <string>

namespace kelvanor {

// Base of every error the tool raises on purpose.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// A field that must be a number is not one.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// A file or folder operation failed.
class EInOutError : public Exception {
 public:
  using Exception::Exception;
};

// A precondition failed; the text carries the message and where it was checked.
class EAssertionFailed : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace kelvanor
