// The reply check on arbitrary buffers, received counts, expected lengths,
// channels and highest indices, against the rule it implements: accepted
// lengths {2, expected, expected - 2}, every pair complemented, the verdict
// reported as one SetState and one SetError; a count reaching past the
// buffer or an expected length below 2 is refused and then a range error,
// never a read.

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "Check.h"
#include "FuzzInput.h"
#include "link/Link.h"
#include "support/MemoryLogPlatform.h"

namespace quorlan::fuzz {
namespace {

// Records the verdict calls; the reply check makes no others.
class VerdictRecorder : public TPortDispatcher {
 public:
  std::uint32_t GetError(std::int32_t) override { return Unexpected("GetError"); }
  void SetError(std::int32_t channel, std::uint32_t code) override {
    calls.push_back({channel, 'E', static_cast<std::int64_t>(code)});
  }
  void SetState(std::int32_t channel, std::int32_t state) override {
    calls.push_back({channel, 'S', state});
  }
  std::uint8_t GetState(std::int32_t) override { return Unexpected("GetState"); }
  std::uint32_t Exchange(std::int32_t, const std::uint8_t*, std::int32_t, std::uint8_t*,
                         std::int32_t, std::int32_t) override {
    return Unexpected("Exchange");
  }
  void Configure(std::int32_t, std::int32_t, std::int32_t) override { Unexpected("Configure"); }
  void SetVerifier(std::int32_t, ReplyVerifier) override { Unexpected("SetVerifier"); }
  void SetSetupHandler(std::int32_t, SetupHandler) override { Unexpected("SetSetupHandler"); }

  struct Call {
    std::int32_t channel;
    char what;
    std::int64_t value;
  };
  std::vector<Call> calls;

 private:
  static std::uint8_t Unexpected(const char* name) {
    FUZZ_CHECK(false, "the reply check called %s", name);
    return 0;
  }
};

// A count as a dispatcher might report it: mostly plausible, sometimes not.
std::int32_t Count(FuzzInput& input) {
  const std::uint8_t kind = input.Byte();
  if (kind < 192) return kind % 32;
  return input.Raw<std::int32_t>();
}

// The verdict the rule gives: nullopt for a range error, else (state, error).
std::optional<std::pair<int, std::uint32_t>> Expected(const std::vector<std::uint8_t>& reply,
                                                      std::int32_t highIndex, std::int32_t received,
                                                      std::int32_t expected) {
  if (expected < 2) return std::nullopt;
  const std::int64_t r = received, e = expected;
  if (r < 2 || (r != 2 && r != e && r != e - 2)) return std::pair{3, 0xDBu};
  if (r / 2 * 2 - 1 > highIndex) return std::nullopt;
  for (std::int64_t i = 0; i + 1 < r; i += 2) {
    if ((reply[std::size_t(i)] ^ 0xFF) != reply[std::size_t(i + 1)]) return std::pair{3, 0xF6u};
  }
  return std::pair{1, 0u};
}

}  // namespace
}  // namespace quorlan::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorlan;
  using namespace quorlan::fuzz;
  FuzzInput input(data, size);
  const std::int32_t channel = input.Bool() ? input.Byte() % 40 : input.Raw<std::int32_t>();
  const std::int32_t expected = Count(input);
  const std::int32_t received = Count(input);
  const std::uint8_t shrink = input.Byte();
  // The buffer is exactly as large as the rest of the input, on the heap, so
  // any read beyond it is caught.
  const std::vector<std::uint8_t> reply = input.Bytes(input.Remaining());
  const auto highIndex = static_cast<std::int32_t>(reply.size()) - 1 - (shrink & 0x03);

  quorlan::testing::MemoryLogPlatform platform;
  Logger logger(platform);
  VerdictRecorder port;
  Link link(port, logger);
  const auto want = Expected(reply, highIndex, received, expected);
  try {
    const bool good = link.VerifyReply(channel, reply.data(), highIndex, received, expected);
    FUZZ_CHECK(want.has_value(), "accepted or refused a reply the rule calls a range error");
    FUZZ_CHECK(good == (want->first == 1), "verdict %d", good);
    FUZZ_CHECK(port.calls.size() == 2, "%zu verdict calls", port.calls.size());
    FUZZ_CHECK(port.calls[0].what == 'S' && port.calls[0].value == want->first &&
                   port.calls[1].what == 'E' && port.calls[1].value == want->second,
               "reported state %lld, error %llX", (long long)port.calls[0].value,
               (long long)port.calls[1].value);
    FUZZ_CHECK(port.calls[0].channel == channel && port.calls[1].channel == channel,
               "verdict for another channel");
  } catch (const ERangeError&) {
    FUZZ_CHECK(!want.has_value(), "range error for a checkable reply");
    // The reply is refused first, so the exchange fails rather than passing.
    FUZZ_CHECK(port.calls.size() == 2 && port.calls[0].what == 'S' && port.calls[0].value == 3 &&
                   port.calls[1].what == 'E' && port.calls[1].value == 0xDB,
               "range error without refusing the reply");
  }
  if (channel >= 0 && channel <= 255 && expected >= 2) {
    FUZZ_CHECK(link.ReceivedCount(channel) == received, "received count not recorded");
  }
  return 0;
}
