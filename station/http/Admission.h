// SPDX-License-Identifier: Apache-2.0
#pragma once
// Connection slots: at most so many in all and so many per client address.
// A connection past a limit gets a slot of another kind, to be told 503 and
// closed, so that a client learns why and when to come back; only past a
// bound of those at once (a flood) is a connection closed unanswered. A
// connection holds its slot for its whole life.

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
  Admission(std::size_t total, std::size_t per_client, std::size_t refusals)
      : total_(total), per_client_(per_client), refusals_(refusals) {}

  class Slot {
   public:
    Slot(Admission* owner, std::string client, bool admitted)
        : owner_(owner), client_(std::move(client)), admitted_(admitted) {}
    Slot(Slot&& other) noexcept
        : owner_(other.owner_), client_(std::move(other.client_)), admitted_(other.admitted_) {
      other.owner_ = nullptr;
    }
    Slot& operator=(Slot&&) = delete;
    ~Slot() {
      if (owner_) owner_->Leave(client_, admitted_);
    }
    const std::string& Client() const { return client_; }
    // False: the connection is past a limit and only to be told so.
    bool Admitted() const { return admitted_; }

   private:
    Admission* owner_;
    std::string client_;
    bool admitted_;
  };

  // Empty when even the refusals are at their bound; the caller closes the
  // connection at once.
  std::optional<Slot> Enter(const std::string& client);
  std::size_t Open() const;  // admitted connections
  std::uint64_t Rejected() const { return rejected_; }
  std::uint64_t Dropped() const { return dropped_; }

 private:
  void Leave(const std::string& client, bool admitted);

  const std::size_t total_;
  const std::size_t per_client_;
  const std::size_t refusals_;
  mutable std::mutex mutex_;
  std::size_t open_ = 0;
  std::size_t refusing_ = 0;
  std::unordered_map<std::string, std::size_t> by_client_;
  std::atomic<std::uint64_t> rejected_ = 0;
  std::atomic<std::uint64_t> dropped_ = 0;
};

}  // namespace quorlan::http
