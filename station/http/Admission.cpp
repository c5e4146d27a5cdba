// SPDX-License-Identifier: Apache-2.0
#include "station/http/Admission.h"

namespace quorlan::http {

std::optional<Admission::Slot> Admission::Enter(const std::string& client) {
  std::lock_guard lock(mutex_);
  auto& held = by_client_[client];
  if (open_ < total_ && held < per_client_) {
    ++held;
    ++open_;
    return Slot(this, client, true);
  }
  if (held == 0) by_client_.erase(client);
  ++rejected_;
  if (refusing_ >= refusals_) {
    ++dropped_;
    return std::nullopt;
  }
  ++refusing_;
  return Slot(this, client, false);
}

std::size_t Admission::Open() const {
  std::lock_guard lock(mutex_);
  return open_;
}

void Admission::Leave(const std::string& client, bool admitted) {
  std::lock_guard lock(mutex_);
  if (!admitted) {
    --refusing_;
    return;
  }
  --open_;
  const auto at = by_client_.find(client);
  if (at != by_client_.end() && --at->second == 0) by_client_.erase(at);
}

}  // namespace quorlan::http
