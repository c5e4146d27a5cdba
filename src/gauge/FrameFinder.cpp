// SPDX-License-Identifier: Apache-2.0
#include "gauge/FrameFinder.h"

#include "gauge/Protocol.h"

namespace quorlan::gauge {

void FrameFinder::Feed(std::string_view bytes) {
  for (char c : bytes) {
    if (c == kSoh) {
      dropped_ += pending_.size();
      pending_.assign(1, c);
      open_ = true;
      continue;
    }
    if (!open_) {
      ++dropped_;
      continue;
    }
    pending_.push_back(c);
    if (c == kEtx) {
      ready_ += pending_;
      pending_.clear();
      open_ = false;
    } else if (pending_.size() > kLongestFrame) {
      dropped_ += pending_.size();
      pending_.clear();
      open_ = false;
    }
  }
}

std::optional<std::string> FrameFinder::Next() {
  const auto end = ready_.find(kEtx);
  if (end == std::string::npos) return std::nullopt;
  std::string frame = ready_.substr(0, end + 1);
  ready_.erase(0, end + 1);
  return frame;
}

void FrameFinder::Reset() {
  dropped_ += pending_.size();
  pending_.clear();
  ready_.clear();
  open_ = false;
}

}  // namespace quorlan::gauge
