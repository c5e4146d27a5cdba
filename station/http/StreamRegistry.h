// SPDX-License-Identifier: Apache-2.0
#pragma once
// The open event streams: their bound, the heartbeat's list, and closing by a
// predicate. Streams may outlive the server (a publisher may hold one), so
// they reach the registry only through a weak pointer.

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "station/http/EventStream.h"

namespace quorlan::http {

class StreamRegistry : public std::enable_shared_from_this<StreamRegistry> {
 public:
  explicit StreamRegistry(std::size_t limit) : limit_(limit) {}

  // Null when `limit` streams are open.
  std::shared_ptr<EventStream> Open(StreamInfo info, std::size_t buffer_limit);
  std::size_t Count() const;
  // Runs `action` on every open stream, outside the registry's lock.
  void ForEach(const std::function<void(EventStream&)>& action) const;

 private:
  void Release(const EventStream* stream);

  const std::size_t limit_;
  mutable std::mutex mutex_;
  std::vector<std::weak_ptr<EventStream>> streams_;
  std::vector<const EventStream*> keys_;  // parallel to streams_, for Release
};

}  // namespace quorlan::http
