// SPDX-License-Identifier: Apache-2.0
#include "station/http/StreamRegistry.h"

#include <algorithm>

namespace quorlan::http {

std::shared_ptr<EventStream> StreamRegistry::Open(StreamInfo info, std::size_t buffer_limit) {
  auto stream = std::make_shared<EventStream>(std::move(info), buffer_limit);
  {
    std::lock_guard lock(mutex_);
    if (keys_.size() >= limit_) return nullptr;
    streams_.push_back(stream);
    keys_.push_back(stream.get());
  }
  std::weak_ptr<StreamRegistry> registry = weak_from_this();
  const EventStream* key = stream.get();
  stream->OnRelease([registry, key] {
    if (auto self = registry.lock()) self->Release(key);
  });
  return stream;
}

std::size_t StreamRegistry::Count() const {
  std::lock_guard lock(mutex_);
  return keys_.size();
}

void StreamRegistry::ForEach(const std::function<void(EventStream&)>& action) const {
  std::vector<std::shared_ptr<EventStream>> open;
  {
    std::lock_guard lock(mutex_);
    for (const auto& weak : streams_) {
      if (auto stream = weak.lock()) open.push_back(std::move(stream));
    }
  }
  for (const auto& stream : open) action(*stream);
}

void StreamRegistry::Release(const EventStream* stream) {
  std::lock_guard lock(mutex_);
  const auto at = std::find(keys_.begin(), keys_.end(), stream);
  if (at == keys_.end()) return;
  const auto index = at - keys_.begin();
  keys_.erase(at);
  streams_.erase(streams_.begin() + index);
}

}  // namespace quorlan::http
