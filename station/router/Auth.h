#pragma once
// Who is calling: the bearer token of a request, matched against every
// configured secret in constant time.

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "station/config/Config.h"

namespace quorlan::station {

struct Caller {
  std::string name;
  Role role = Role::View;
};

// Takes as long for every pair of the same longest length, wherever they
// differ.
bool ConstantTimeEquals(std::string_view a, std::string_view b);

class Authenticator {
 public:
  explicit Authenticator(std::vector<TokenConfig> tokens) : tokens_(std::move(tokens)) {}
  // The caller of an Authorization header ("Bearer <secret>"); nullopt for
  // a missing header or an unknown secret.
  std::optional<Caller> Find(std::string_view header) const;
  // Takes a new set of tokens (the configuration re-read); returns the names
  // of the tokens that no longer stand as they were (gone, or a new secret
  // or role), whose clients must go.
  std::vector<std::string> Replace(std::vector<TokenConfig> tokens);

 private:
  mutable std::mutex mutex_;
  std::vector<TokenConfig> tokens_;
};

}  // namespace quorlan::station
