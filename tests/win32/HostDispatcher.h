#pragma once
// A port dispatcher laid out as a host object: its first field points to a
// table whose positions 1..4, 16, 17, 19 and 21 are register-convention
// functions, as a host compiler would emit them. Behind them a
// FakeDispatcher answers; the driver's callbacks arrive as method pointers
// and are called back through RegisterCall, which checks their stack
// cleanup and floating-point state.

#include <map>
#include <string>
#include <vector>

#include "support/FakeDispatcher.h"

namespace quorlan::hosttest {

struct HostMethodPointer {
  const void* code = nullptr;
  void* data = nullptr;
};

class HostDispatcher {
 public:
  HostDispatcher();
  HostDispatcher(const HostDispatcher&) = delete;
  HostDispatcher& operator=(const HostDispatcher&) = delete;

  // What the driver receives as its port.
  void* Port() { return &object_; }

  quorlan::testing::FakeDispatcher fake;
  // Faults a careless host might inject into the verifier's arguments.
  std::int32_t verifierHighIndexOverride = -1;
  // Convention breaches seen in callbacks (wrong pops, raised exceptions,
  // floating-point state not restored).
  std::vector<std::string> callbackFaults;
  std::map<std::int32_t, HostMethodPointer> verifiers, setupHandlers;

  // Calls the setup handler the driver registered, as a host does when it
  // reopens a line.
  void RunSetupHandler(std::int32_t channel);

 private:
  struct Layout {
    const void* const* table;
    HostDispatcher* owner;
  };
  friend HostDispatcher& Owner(const Layout* self);

  bool CallVerifier(const HostMethodPointer& verifier, std::int32_t channel,
                    const std::uint8_t* reply, std::int32_t highIndex, std::int32_t received,
                    std::int32_t expected);
  friend struct HostEntries;

  Layout object_;
};

}  // namespace quorlan::hosttest
