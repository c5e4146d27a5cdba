#pragma once
// A transport that answers at once from a recorded conversation, so a
// benchmark times the driver and nothing else. It first carries every
// request to a simulated line and records what passes; after Replay() it
// answers every transfer with the next recorded reply, round and round.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "quorlan/Transport.h"
#include "sim/SimDispatcher.h"

namespace quorlan::bench {

struct RecordedExchange {
  sim::Bytes request;
  sim::Bytes reply;  // empty: the line stayed silent
};

class ReplayDispatcher : public Transport {
 public:
  explicit ReplayDispatcher(sim::SimDispatcher& source) : source_(source) {}

  // Forgets what was recorded; exchanges from now on are recorded.
  void StartRecording();
  // Answers from the recording from now on, starting with its first exchange.
  void Replay();
  std::size_t Recorded() const { return conversation_.size(); }
  // True once the driver sent a request other than the recorded one: the
  // replayed figures would then not be the recorded work.
  bool Diverged() const { return diverged_; }

  Received Transfer(std::int32_t channel, std::span<const std::uint8_t> request,
                    std::span<std::uint8_t> reply) override;

 protected:
  bool SetUpLine(std::int32_t channel, std::int32_t lineSetting, std::int32_t baud) override;

 private:
  sim::SimDispatcher& source_;
  bool replaying_ = false;
  bool diverged_ = false;
  std::vector<RecordedExchange> conversation_;
  std::size_t next_ = 0;
};

}  // namespace quorlan::bench
