#include "station/Auth.h"

#include <algorithm>

namespace quorlan::station {

bool ConstantTimeEquals(std::string_view a, std::string_view b) {
  const std::size_t length = std::max(a.size(), b.size());
  unsigned difference = a.size() == b.size() ? 0 : 1;
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
    const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
    difference |= static_cast<unsigned>(x ^ y);
  }
  return difference == 0;
}

std::optional<Caller> Authenticator::Find(std::string_view header) const {
  constexpr std::string_view kScheme = "Bearer ";
  if (header.size() <= kScheme.size() || header.substr(0, kScheme.size()) != kScheme) {
    return std::nullopt;
  }
  const std::string_view secret = header.substr(kScheme.size());
  // Every token is compared, so the time does not tell which one matched.
  std::optional<Caller> found;
  for (const auto& token : tokens_) {
    if (ConstantTimeEquals(secret, token.secret) && !found) found = Caller{token.name, token.role};
  }
  return found;
}

}  // namespace quorlan::station
