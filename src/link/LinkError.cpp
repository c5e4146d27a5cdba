// The words for each link error, shared by every transport and tool.

#include <cstdio>

#include "quorlan/Errors.h"

namespace quorlan {

std::string Describe(std::uint32_t code) {
  switch (static_cast<LinkError>(code)) {
    case LinkError::None:
      return "success";
    case LinkError::BadLength:
      return "reply of the wrong length";
    case LinkError::BadComplement:
      return "reply fails the complement check";
    case LinkError::NoReply:
      return "no reply";
    case LinkError::LineFailure:
      return "line failure";
    case LinkError::VerifierException:
      return "reply check failed";
    case LinkError::DriverFailure:
      return "the exchange did not finish";
    case LinkError::BadDigit:
      return "reply has a digit that is not decimal";
  }
  char text[32];
  std::snprintf(text, sizeof text, "line error 0x%X", code);
  return text;
}

}  // namespace quorlan
