#include "win32/HostDispatcher.h"

#include <cstdio>
#include <cstdlib>

#include "win32/RegisterCall.h"

#define HOST_REGISTER __attribute__((regparm(3), stdcall))

namespace quorlan::hosttest {

using quorlan::testing::FakeDispatcher;

HostDispatcher& Owner(const HostDispatcher::Layout* self) {
  return *self->owner;
}

struct HostEntries {
  using Object = HostDispatcher::Layout;

  static std::uint32_t HOST_REGISTER GetError(const Object* self, std::int32_t channel) {
    return Owner(self).fake.GetError(channel);
  }
  static void HOST_REGISTER SetError(const Object* self, std::int32_t channel, std::uint32_t code) {
    Owner(self).fake.SetError(channel, code);
  }
  static void HOST_REGISTER SetState(const Object* self, std::int32_t channel, std::int32_t state) {
    Owner(self).fake.SetState(channel, state);
  }
  static std::uint8_t HOST_REGISTER GetState(const Object* self, std::int32_t channel) {
    return Owner(self).fake.GetState(channel);
  }
  // Stack in push order: request length, @reply, expected length, 0.
  static std::uint32_t HOST_REGISTER Exchange(const Object* self, std::int32_t channel,
                                              const std::uint8_t* request, std::int32_t reserved,
                                              std::int32_t expected, std::uint8_t* reply,
                                              std::int32_t requestLength) {
    return Owner(self).fake.Exchange(channel, request, requestLength, reply, expected, reserved);
  }
  static void HOST_REGISTER Configure(const Object* self, std::int32_t channel,
                                      std::int32_t lineSetting, std::int32_t baud) {
    Owner(self).fake.Configure(channel, lineSetting, baud);
  }
  // The method pointer: two stack dwords, Code at the lower address.
  static void HOST_REGISTER SetVerifier(const Object* self, std::int32_t channel,
                                        HostMethodPointer verifier) {
    auto& owner = Owner(self);
    owner.verifiers[channel] = verifier;
    ReplyVerifier bound;
    if (verifier.code != nullptr) {
      bound.owner = &owner;
      bound.function = [](void* host, std::int32_t line, const std::uint8_t* reply,
                          std::int32_t highIndex, std::int32_t received, std::int32_t expected) {
        auto& dispatcher = *static_cast<HostDispatcher*>(host);
        return dispatcher.CallVerifier(dispatcher.verifiers[line], line, reply, highIndex, received,
                                       expected);
      };
    }
    owner.fake.SetVerifier(channel, bound);
  }
  static void HOST_REGISTER SetSetupHandler(const Object* self, std::int32_t channel,
                                            HostMethodPointer handler) {
    auto& owner = Owner(self);
    owner.setupHandlers[channel] = handler;
    owner.fake.SetSetupHandler(channel, {});
  }
  // The driver uses no other position; a call to one is a fault that
  // cannot be survived (its pops are unknown).
  static void HOST_REGISTER Unused(const Object*) {
    std::fputs("the driver called an unused dispatcher position\n", stderr);
    std::abort();
  }
};

namespace {

template <class Fn>
const void* Entry(Fn* function) {
  return reinterpret_cast<const void*>(function);
}

const void* const* Table() {
  static const void* table[22];
  for (auto& entry : table) entry = Entry(&HostEntries::Unused);
  table[1] = Entry(&HostEntries::GetError);
  table[2] = Entry(&HostEntries::SetError);
  table[3] = Entry(&HostEntries::SetState);
  table[4] = Entry(&HostEntries::GetState);
  table[16] = Entry(&HostEntries::Exchange);
  table[17] = Entry(&HostEntries::Configure);
  table[19] = Entry(&HostEntries::SetVerifier);
  table[21] = Entry(&HostEntries::SetSetupHandler);
  return table;
}

std::string Describe(const char* callback, const CallOutcome& outcome) {
  char text[200];
  std::snprintf(
      text, sizeof text, "%s: stack left %d, raised %d (code %08lX), x87 control %04X, MXCSR %08lX",
      callback, outcome.stackLeft, outcome.raised, static_cast<unsigned long>(outcome.code),
      outcome.x87Control, static_cast<unsigned long>(outcome.mxcsr));
  return text;
}

bool Clean(const CallOutcome& outcome) {
  return outcome.stackLeft == 0 && !outcome.raised && outcome.x87Depth == 0 &&
         outcome.x87Control == kHostX87Control && outcome.mxcsr == kHostMxcsr;
}

}  // namespace

HostDispatcher::HostDispatcher() : object_{Table(), this} {}

bool HostDispatcher::CallVerifier(const HostMethodPointer& verifier, std::int32_t channel,
                                  const std::uint8_t* reply, std::int32_t highIndex,
                                  std::int32_t received, std::int32_t expected) {
  if (verifierHighIndexOverride >= 0) highIndex = verifierHighIndexOverride;
  // Stack in push order: highest index, received count, expected count.
  const auto outcome =
      Call({.target = verifier.code,
            .eax = Dword(verifier.data),
            .edx = static_cast<std::uint32_t>(channel),
            .ecx = Dword(reply),
            .stack = {static_cast<std::uint32_t>(highIndex), static_cast<std::uint32_t>(received),
                      static_cast<std::uint32_t>(expected)}});
  if (!Clean(outcome)) callbackFaults.push_back(Describe("verifier", outcome));
  return (outcome.eax & 0xFF) != 0;
}

void HostDispatcher::RunSetupHandler(std::int32_t channel) {
  const auto& handler = setupHandlers[channel];
  const auto outcome = Call({.target = handler.code,
                             .eax = Dword(handler.data),
                             .edx = static_cast<std::uint32_t>(channel)});
  if (!Clean(outcome)) callbackFaults.push_back(Describe("setup handler", outcome));
}

}  // namespace quorlan::hosttest
