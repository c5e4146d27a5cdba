#pragma once
// The transport base: carries the driver's requests to a line and the
// replies back. It owns what every transport keeps per channel (the last
// error, the link state, the reply verifier, the setup handler) and the step
// every exchange ends with: check the reply, record the verdict. A transport
// supplies only the transfer of bytes and the line setup.
//
// One behaviour for every transport:
// - Channels 0..32 each keep their own bookkeeping (channel 0 has no line
//   unless a transport gives it one). A channel outside 0..32 has none: its
//   error reads kErrorLineFailure and its state kLinkBad, setters and
//   registrations are ignored, and an exchange fails with kErrorLineFailure
//   without reaching any line.
// - A request or reply buffer that is missing, or a negative request length:
//   kErrorLineFailure, nothing sent.
// - Not one byte back: kErrorNoReply, the verifier is not called.
// - With a verifier, its verdict stands (it records through SetState and
//   SetError); if it throws, the channel records kErrorVerifierException and
//   the exception passes to the caller. Without one, a reply of exactly the
//   expected length is good and any other is kErrorBadLength.
// Exchanges on one channel run one at a time; different channels may run
// at the same time on different threads.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>

#include "quorlan/PortDispatcher.h"

namespace quorlan {

class Transport : public TPortDispatcher {
 public:
  Transport();
  ~Transport() override;
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  std::uint32_t GetError(std::int32_t channel) final;
  void SetError(std::int32_t channel, std::uint32_t code) final;
  void SetState(std::int32_t channel, std::int32_t state) final;
  std::uint8_t GetState(std::int32_t channel) final;
  std::uint32_t Exchange(std::int32_t channel, const std::uint8_t* request,
                         std::int32_t requestLength, std::uint8_t* reply,
                         std::int32_t expectedLength, std::int32_t reserved) final;
  void Configure(std::int32_t channel, std::int32_t lineSetting, std::int32_t baud) final;
  void SetVerifier(std::int32_t channel, ReplyVerifier verifier) final;
  void SetSetupHandler(std::int32_t channel, SetupHandler handler) final;

  // What one transfer brought back.
  struct Received {
    std::size_t count = 0;    // bytes written into the reply; 0: none came
    bool lineFailed = false;  // the line could not carry the request
    bool extra = false;       // more bytes followed the expected count
    static Received Bytes(std::size_t count) { return {count, false, false}; }
    static Received Nothing() { return {}; }
    static Received LineFailed() { return {0, true, false}; }
    // Bytes beyond the expected count: what was read may answer an earlier
    // request, so it answers none; the exchange fails with kErrorBadLength.
    static Received Overrun(std::size_t count) { return {count, false, true}; }
  };
  // The bare transfer: sends the request and reads at most reply.size()
  // bytes into reply, with no check and no bookkeeping. Exchange calls it
  // for channels 0..32 with the channel's exchange lock held; a recorder may
  // call it directly.
  virtual Received Transfer(std::int32_t channel, std::span<const std::uint8_t> request,
                            std::span<std::uint8_t> reply) = 0;

 protected:
  // Sets the channel's line up; false records a line failure on it.
  virtual bool SetUpLine(std::int32_t channel, std::int32_t lineSetting, std::int32_t baud) = 0;
  // Told when a reply that arrived was refused (by length, by the verifier,
  // or by a verifier that threw), so a line can stop trusting what follows.
  virtual void ReplyRefused(std::int32_t /*channel*/) {}

 private:
  struct Channel;
  Channel* Find(std::int32_t channel) const;
  std::uint32_t Verify(Channel& slot, std::int32_t channel, std::uint8_t* reply,
                       std::int32_t received, std::int32_t expected);

  std::array<std::unique_ptr<Channel>, kLastChannel + 1> channels_;
};

}  // namespace quorlan
