#pragma once
// A port dispatcher that answers at once from a recorded conversation, so a
// benchmark times the driver and nothing else. It first forwards to a
// simulated line and records what passes; after Replay() it answers every
// exchange with the next recorded reply, round and round.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "quorlan/PortDispatcher.h"
#include "sim/SimDispatcher.h"

namespace quorlan::bench {

struct RecordedExchange {
  sim::Bytes request;
  sim::Bytes reply;  // empty: the line stayed silent
};

class ReplayDispatcher : public TPortDispatcher {
 public:
  explicit ReplayDispatcher(sim::SimDispatcher& source);

  // Forgets what was recorded; exchanges from now on are recorded.
  void StartRecording();
  // Answers from the recording from now on, starting with its first exchange.
  void Replay();
  std::size_t Recorded() const { return conversation_.size(); }
  // True once the driver sent a request other than the recorded one: the
  // replayed figures would then not be the recorded work.
  bool Diverged() const { return diverged_; }

  std::uint32_t GetError(std::int32_t channel) override;
  void SetError(std::int32_t channel, std::uint32_t code) override;
  void SetState(std::int32_t channel, std::int32_t state) override;
  std::uint8_t GetState(std::int32_t channel) override;
  std::uint32_t Exchange(std::int32_t channel, const std::uint8_t* request,
                         std::int32_t requestLength, std::uint8_t* reply,
                         std::int32_t expectedLength, std::int32_t reserved) override;
  void Configure(std::int32_t channel, std::int32_t lineSetting, std::int32_t baud) override;
  void SetVerifier(std::int32_t channel, ReplyVerifier verifier) override;
  void SetSetupHandler(std::int32_t channel, SetupHandler handler) override;

 private:
  struct Channel {
    ReplyVerifier verifier;
    std::uint32_t error = 0;
    std::uint8_t state = kLinkGood;
  };
  // Channels outside 1..32 share slot 0.
  Channel& Slot(std::int32_t channel);

  sim::SimDispatcher& source_;
  bool replaying_ = false;
  bool diverged_ = false;
  std::vector<RecordedExchange> conversation_;
  std::size_t next_ = 0;
  std::array<Channel, sim::kMaxChannels + 1> channels_;
};

}  // namespace quorlan::bench
