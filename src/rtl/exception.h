#pragma once
// The root of every failure that travels as an exception: a class and a message text, as the runtime framework
// gives them. Subsystems derive their named classes from it (EIdException, E_RAISE, ...).
#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// The runtime's general conversion error, raised by strict number conversion.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// An operation that the object's state does not allow (for example a range that would invert).
class EInvalidOperation : public Exception {
 public:
  using Exception::Exception;
};
