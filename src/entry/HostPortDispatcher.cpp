#include "entry/HostPortDispatcher.h"

#include <type_traits>
#include <utility>

#include "entry/FloatingPoint.h"

namespace quorlan::entry {

namespace {

// The host's entries, with stack parameters in reverse of its push order.
using GetErrorFn = std::uint32_t(QUORLAN_REGISTER*)(const HostObject*, std::int32_t channel);
using SetErrorFn = void(QUORLAN_REGISTER*)(const HostObject*, std::int32_t channel,
                                           std::uint32_t code);
using SetStateFn = void(QUORLAN_REGISTER*)(const HostObject*, std::int32_t channel,
                                           std::int32_t state);
using GetStateFn = std::uint8_t(QUORLAN_REGISTER*)(const HostObject*, std::int32_t channel);
using ExchangeFn = std::uint32_t(QUORLAN_REGISTER*)(const HostObject*, std::int32_t channel,
                                                    const std::uint8_t* request,
                                                    std::int32_t reserved, std::int32_t expected,
                                                    std::uint8_t* reply,
                                                    std::int32_t requestLength);
using ConfigureFn = void(QUORLAN_REGISTER*)(const HostObject*, std::int32_t channel,
                                            std::int32_t lineSetting, std::int32_t baud);
// The method pointer takes no register: ECX stays unused.
using SetCallbackFn = void(QUORLAN_REGISTER*)(const HostObject*, std::int32_t channel,
                                              MethodPointer callback);

// Called by the host as Code with EAX = Data (the slot); pops 12.
bool QUORLAN_HOST_CALLABLE VerifierThunk(CallbackSlot* slot, std::int32_t channel,
                                         const std::uint8_t* reply, std::int32_t expected,
                                         std::int32_t received, std::int32_t highIndex) {
  const HostFrame frame = EnterFromHost();
  bool good = false;
  try {
    good = slot->verifier(channel, reply, highIndex, received, expected);
  } catch (...) {
    slot->kept = std::current_exception();
    good = false;
  }
  LeaveToHost(frame);
  return good;
}

void QUORLAN_HOST_CALLABLE SetupThunk(CallbackSlot* slot, std::int32_t channel) {
  const HostFrame frame = EnterFromHost();
  try {
    slot->setup(channel);
  } catch (...) {
    slot->kept = std::current_exception();
  }
  LeaveToHost(frame);
}

MethodPointer Bind(const void* thunk, CallbackSlot& slot, bool bound) {
  return bound ? MethodPointer{thunk, &slot} : MethodPointer{nullptr, nullptr};
}

}  // namespace

template <class Fn, class... Args>
auto HostPortDispatcher::CallHost(DispatcherPosition position, std::int32_t channel, Args... args) {
  auto& slot = slots_[channel];
  const auto entry = reinterpret_cast<Fn>(host_->table[static_cast<int>(position)]);
  const auto rethrowKept = [&slot] {
    if (slot.kept) std::rethrow_exception(std::exchange(slot.kept, nullptr));
  };
  LoadFloatingPoint(HostFloatingPoint());
  if constexpr (std::is_void_v<
                    std::invoke_result_t<Fn, const HostObject*, std::int32_t, Args...>>) {
    entry(host_, channel, args...);
    LoadFloatingPoint(kDriverFloatingPoint);
    rethrowKept();
  } else {
    const auto result = entry(host_, channel, args...);
    LoadFloatingPoint(kDriverFloatingPoint);
    rethrowKept();
    return result;
  }
}

std::uint32_t HostPortDispatcher::GetError(std::int32_t channel) {
  return CallHost<GetErrorFn>(DispatcherPosition::kGetError, channel);
}

void HostPortDispatcher::SetError(std::int32_t channel, std::uint32_t code) {
  CallHost<SetErrorFn>(DispatcherPosition::kSetError, channel, code);
}

void HostPortDispatcher::SetState(std::int32_t channel, std::int32_t state) {
  CallHost<SetStateFn>(DispatcherPosition::kSetState, channel, state);
}

std::uint8_t HostPortDispatcher::GetState(std::int32_t channel) {
  return CallHost<GetStateFn>(DispatcherPosition::kGetState, channel);
}

std::uint32_t HostPortDispatcher::Exchange(std::int32_t channel, const std::uint8_t* request,
                                           std::int32_t requestLength, std::uint8_t* reply,
                                           std::int32_t expectedLength, std::int32_t reserved) {
  // Whatever a late callback left behind belongs to no exchange of ours.
  slots_[channel].kept = nullptr;
  return CallHost<ExchangeFn>(DispatcherPosition::kExchange, channel, request, reserved,
                              expectedLength, reply, requestLength);
}

void HostPortDispatcher::Configure(std::int32_t channel, std::int32_t lineSetting,
                                   std::int32_t baud) {
  CallHost<ConfigureFn>(DispatcherPosition::kConfigure, channel, lineSetting, baud);
}

void HostPortDispatcher::SetVerifier(std::int32_t channel, ReplyVerifier verifier) {
  auto& slot = slots_[channel];
  slot.verifier = verifier;
  CallHost<SetCallbackFn>(
      DispatcherPosition::kSetVerifier, channel,
      Bind(reinterpret_cast<const void*>(&VerifierThunk), slot, static_cast<bool>(verifier)));
}

void HostPortDispatcher::SetSetupHandler(std::int32_t channel, SetupHandler handler) {
  auto& slot = slots_[channel];
  slot.setup = handler;
  CallHost<SetCallbackFn>(
      DispatcherPosition::kSetSetupHandler, channel,
      Bind(reinterpret_cast<const void*>(&SetupThunk), slot, static_cast<bool>(handler)));
}

}  // namespace quorlan::entry
