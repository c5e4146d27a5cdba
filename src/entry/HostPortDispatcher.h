#pragma once
// The host's port dispatcher seen through the core's TPortDispatcher: every
// operation calls the host object's table position in the register
// convention. The verifier and setup handler go to the host as method
// pointers whose Code is a thunk of ours and whose Data is the channel's
// callback slot. An exception inside a callback never reaches the host: it
// is kept in the slot and re-thrown once the host call returns.

#include <exception>

#include "base/Range.h"
#include "entry/HostConvention.h"
#include "quorlan/PortDispatcher.h"

namespace quorlan::entry {

// Positions in the host dispatcher's table.
enum class DispatcherPosition : int {
  kGetError = 1,
  kSetError = 2,
  kSetState = 3,
  kGetState = 4,
  kExchange = 16,
  kConfigure = 17,
  kSetVerifier = 19,
  kSetSetupHandler = 21,
};

// What a thunk finds through the method pointer's Data.
struct CallbackSlot {
  ReplyVerifier verifier;
  SetupHandler setup;
  std::exception_ptr kept;
};

class HostPortDispatcher final : public TPortDispatcher {
 public:
  explicit HostPortDispatcher(const HostObject* host) : host_(host) {}

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
  // Calls table position `position` as a function of type Fn with the host
  // object as Self, under the host's floating-point state, then re-throws
  // whatever a callback kept for the channel meanwhile.
  template <class Fn, class... Args>
  auto CallHost(DispatcherPosition position, std::int32_t channel, Args... args);

  const HostObject* host_;
  // Channels cross the boundary as bytes; each has a slot of stable address.
  RangedArray<CallbackSlot, 0, 255> slots_;
};

}  // namespace quorlan::entry
