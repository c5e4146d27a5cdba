#pragma once
// One taxonomy for every failure the library reports: the link errors a
// transport records per exchange, and the exceptions of the public API.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quorlan {

// An exchange's outcome as a transport records it (GetError); 0 is success.
enum class LinkError : std::uint32_t {
  None = 0,
  BadLength = 0xDB,           // the reply was short
  BadComplement = 0xF6,       // a byte did not match its complement
  NoReply = 0x1F4,            // not one byte came back
  LineFailure = 0x1F5,        // no device, or open, read or write failed
  VerifierException = 0x1F6,  // the reply check itself raised
  DriverFailure = 0x1F7,      // the exchange did not happen or did not finish
  BadDigit = 0x1F8,           // a figure in the reply has a digit above 9 (never from the DLL)
};
// The code as a transport's GetError reports it.
constexpr std::uint32_t Code(LinkError error) {
  return static_cast<std::uint32_t>(error);
}
// "no reply", "reply fails the complement check", ...; a code outside the
// list is described with its number.
std::string Describe(std::uint32_t code);

// Base of every exception the public API throws; what() is English.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// A number out of range, a price with three decimals, a limit of zero: the
// call was refused before anything was sent.
class InvalidArgument : public Error {
 public:
  using Error::Error;
};
// The price book lacks a price the operation needs; nothing was sent.
class NoPrice : public Error {
 public:
  using Error::Error;
};
// The exchange failed; `Code()` says how.
class LinkFailure : public Error {
 public:
  LinkFailure(std::uint32_t code, const std::string& what) : Error(what), code_(code) {}
  std::uint32_t Code() const { return code_; }

 private:
  std::uint32_t code_;
};

}  // namespace quorlan
