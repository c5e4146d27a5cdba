#pragma once
// The three exception classes that reach the host. Messages are Windows-1251
// bytes, exactly as the host shows or logs them.

#include <exception>
#include <string>
#include <string_view>

namespace quorlan {

class EDriverError : public std::exception {
 public:
  explicit EDriverError(std::string_view message) : message_(message) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }
  // The class name a host sees with the structured exception.
  virtual const char* ClassName() const noexcept = 0;

 private:
  std::string message_;
};

// A dispenser exchange failed; the message names the request.
class ESerialIO : public EDriverError {
 public:
  using EDriverError::EDriverError;
  const char* ClassName() const noexcept override { return "ESerialIO"; }
};

// An index or a value narrowed to a smaller type was outside its range.
class ERangeError : public EDriverError {
 public:
  ERangeError() : EDriverError(kMessage) {}
  const char* ClassName() const noexcept override { return "ERangeError"; }
  static constexpr std::string_view kMessage = "Range check error";
};

// The table entry that the driver leaves without an implementation.
class EAbstractError : public EDriverError {
 public:
  EAbstractError() : EDriverError(kMessage) {}
  const char* ClassName() const noexcept override { return "EAbstractError"; }
  static constexpr std::string_view kMessage = "Abstract error";
};

}  // namespace quorlan
