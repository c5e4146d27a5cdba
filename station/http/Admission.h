// SPDX-License-Identifier: Apache-2.0
#pragma once
// Connection slots: at most so many in all and so many per client address.
// A connection holds its slot for its whole life.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace quorlan::http {

class Admission {
 public:
  Admission(std::size_t total, std::size_t per_client) : total_(total), per_client_(per_client) {}

  class Slot {
   public:
    Slot(Admission* owner, std::string client) : owner_(owner), client_(std::move(client)) {}
    Slot(Slot&& other) noexcept : owner_(other.owner_), client_(std::move(other.client_)) {
      other.owner_ = nullptr;
    }
    Slot& operator=(Slot&&) = delete;
    ~Slot() {
      if (owner_) owner_->Leave(client_);
    }
    const std::string& Client() const { return client_; }

   private:
    Admission* owner_;
    std::string client_;
  };

  // Empty when a limit is reached; the caller closes the connection at once.
  std::optional<Slot> Enter(const std::string& client);
  std::size_t Open() const;
  std::uint64_t Rejected() const { return rejected_; }

 private:
  void Leave(const std::string& client);

  const std::size_t total_;
  const std::size_t per_client_;
  mutable std::mutex mutex_;
  std::size_t open_ = 0;
  std::unordered_map<std::string, std::size_t> by_client_;
  std::atomic<std::uint64_t> rejected_ = 0;
};

}  // namespace quorlan::http
