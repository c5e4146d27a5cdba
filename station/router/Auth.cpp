#include "station/router/Auth.h"

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
  std::lock_guard lock(mutex_);
  for (const auto& token : tokens_) {
    if (ConstantTimeEquals(secret, token.secret) && !found) found = Caller{token.name, token.role};
  }
  return found;
}

std::vector<std::string> Authenticator::Replace(std::vector<TokenConfig> tokens) {
  std::lock_guard lock(mutex_);
  std::vector<std::string> withdrawn;
  for (const TokenConfig& old : tokens_) {
    const bool kept = std::any_of(tokens.begin(), tokens.end(), [&](const TokenConfig& token) {
      return token.name == old.name && token.secret == old.secret && token.role == old.role;
    });
    if (!kept) withdrawn.push_back(old.name);
  }
  tokens_ = std::move(tokens);
  return withdrawn;
}

}  // namespace quorlan::station
