// A seeded random sequence of table calls with random host values (any
// 32-bit numbers, bytes with garbage above them, NaN, infinities) against a
// line that answers at random. Every call keeps the host's stack and
// floating-point state; every failure is one of the contract's structured
// exceptions, never an access violation; each call ends exactly as the same
// call on the core does; and the driver keeps working afterwards.

#include <cstring>
#include <limits>
#include <random>

#include "driver/TVM30.h"
#include "support/MemoryLogPlatform.h"
#include "win32/HostDriver.h"

namespace quorlan::hosttest {
namespace {

using quorlan::testing::Bytes;
using quorlan::testing::ExchangeRecord;
using quorlan::testing::ScriptedReply;

constexpr std::uint32_t kSeed = 6061;
constexpr int kCalls = 3000;

// The same answer for the n-th exchange on either side, so the DLL's driver
// and the core meet the same line.
ScriptedReply RandomReply(std::uint32_t n, const ExchangeRecord& request) {
  std::mt19937 random(n * 2654435761u + kSeed);
  const int pairs = request.expected / 2;
  Bytes info(static_cast<std::size_t>(pairs));
  for (auto& b : info) b = std::uint8_t(random());
  static constexpr std::uint8_t kStatus[] = {0x20, 0x2F, 0x90, 0xA0, 0x99, 0xD0, 0x31};
  if (pairs == 9) info[8] = kStatus[random() % std::size(kStatus)];
  switch (random() % 8) {
    case 0:
      return {.reply = {}, .received = 0, .callVerifier = false, .error = 0x1F4, .state = 3};
    case 1:  // one pair short
      info.resize(info.size() - 1);
      return {.reply = quorlan::testing::Pairs(info)};
    case 2:  // a broken complement
      return {.reply = {0x12, 0x34}, .received = request.expected};
    case 3:  // a count that does not match the bytes
      return {.reply = quorlan::testing::Pairs(info), .received = int(random() % 300) - 20};
    default:
      return {.reply = quorlan::testing::Pairs(info)};
  }
}

std::function<ScriptedReply(const ExchangeRecord&)> RandomLine() {
  return [n = std::uint32_t(0)](const ExchangeRecord& request) mutable {
    return RandomReply(n++, request);
  };
}

// What a host might pass: mostly near the valid ranges, sometimes anything.
struct HostValues {
  std::mt19937 random{kSeed};
  std::uint32_t Number() {
    const auto kind = random() % 8;
    if (kind < 6) return random() % 36;
    return kind == 6 ? 250 + random() % 12 : std::uint32_t(random());
  }
  double Value() {
    static constexpr double kAwkwardValues[] = {std::numeric_limits<double>::quiet_NaN(),
                                                std::numeric_limits<double>::infinity(),
                                                -std::numeric_limits<double>::infinity(),
                                                -1.0,
                                                21474836.48,
                                                1e300,
                                                0.125};
    const auto kind = random() % 4;
    if (kind == 0) return kAwkwardValues[random() % std::size(kAwkwardValues)];
    return double(std::int32_t(random()) % 1000000) / 100;
  }
};

// One call as both sides saw it.
struct Seen {
  std::string className, message;  // empty when nothing was raised
  std::vector<std::uint64_t> results;
};

std::uint64_t Bits(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

class RandomHostCalls : public HostDriverTest {
 protected:
  RandomHostCalls() : core(corePort, 0, coreLogger) {
    host.fake.responder = RandomLine();
    corePort.responder = RandomLine();
  }

  // Entry `entry` through the table, then the same call on the core.
  void Compare(int entry, std::uint32_t c, std::uint32_t d, std::uint32_t g, std::uint32_t x,
               double value);

  quorlan::testing::FakeDispatcher corePort;
  quorlan::testing::MemoryLogPlatform corePlatform;
  Logger coreLogger{corePlatform};
  TVM30 core;
};

template <class Call>
Seen OnCore(Call&& call) {
  Seen seen;
  try {
    seen.results = call();
  } catch (const EDriverError& error) {
    seen.className = error.ClassName();
    seen.message = error.Message();
  }
  return seen;
}

void RandomHostCalls::Compare(int entry, std::uint32_t c, std::uint32_t d, std::uint32_t g,
                              std::uint32_t x, double value) {
  double volume = -3, amount = -3;
  std::uint8_t record[16];
  std::memset(record, 0x5A, sizeof record);
  char description[256] = {};
  std::int32_t option = -9;
  const std::uint8_t byte = std::uint8_t(x);

  std::vector<std::uint32_t> stack;
  std::uint32_t edx = c, ecx = d;
  std::function<std::vector<std::uint64_t>(const CallOutcome&)> dllResults = [](auto&) {
    return std::vector<std::uint64_t>{};
  };
  std::function<std::vector<std::uint64_t>()> coreCall;
  const auto outputs = [&] { return std::vector<std::uint64_t>{Bits(volume), Bits(amount)}; };
  switch (entry) {
    case 1:
      edx = Dword(description);
      dllResults = [&](auto&) {
        return std::vector<std::uint64_t>(description,
                                          description + 1 + std::uint8_t(description[0]));
      };
      coreCall = [&] {
        const std::string text = core.GetDescription();
        std::vector<std::uint64_t> bytes{text.size()};
        bytes.insert(bytes.end(), text.begin(), text.end());
        return bytes;
      };
      break;
    case 2:
      ecx = x;  // the state byte with garbage above it
      coreCall = [&] {
        core.SetLinkState(c, byte);
        return std::vector<std::uint64_t>{};
      };
      break;
    case 3:
      dllResults = [](auto& o) { return std::vector<std::uint64_t>{o.eax & 0xFF}; };
      coreCall = [&] { return std::vector<std::uint64_t>{core.GetLinkState(c)}; };
      break;
    case 4:
    case 22:
      stack = entry == 4 ? std::vector<std::uint32_t>{x} : std::vector<std::uint32_t>{g, x};
      dllResults = [](auto& o) { return std::vector<std::uint64_t>{o.eax}; };
      coreCall = [&] {
        return std::vector<std::uint64_t>{
            std::uint32_t(entry == 4 ? core.Stop(c, d, x) : core.StopNozzle(c, d, g, x))};
      };
      break;
    case 6:
      stack = {Dword(&volume), Dword(&amount)};
      dllResults = [&](auto&) { return outputs(); };
      coreCall = [&] {
        core.GetTransaction(c, d, volume, amount);
        return outputs();
      };
      break;
    case 7:
      stack = {g, Dword(&volume), Dword(&amount), x, x};
      dllResults = [&](auto&) { return outputs(); };
      coreCall = [&] {
        core.ReadTotals(c, d, std::int32_t(g), volume, amount, x, x);
        return outputs();
      };
      break;
    case 9:
      stack = {Dword(&amount)};
      dllResults = [&](auto& o) { return std::vector<std::uint64_t>{Bits(o.st0), Bits(amount)}; };
      coreCall = [&] {
        const double result = core.ReadTransaction(c, d, amount);
        return std::vector<std::uint64_t>{Bits(result), Bits(amount)};
      };
      break;
    case 10:
      dllResults = [](auto& o) { return std::vector<std::uint64_t>{o.eax & 0xFFFF}; };
      coreCall = [&] { return std::vector<std::uint64_t>{core.PollStatus(c, d)}; };
      break;
    case 11:
      stack = {g, x, x};
      PushDouble(stack, value);
      coreCall = [&] {
        core.SetPrice(c, d, g, x, x, value);
        return std::vector<std::uint64_t>{};
      };
      break;
    case 13:
    case 14:
      stack = {g, x};
      PushDouble(stack, value);
      coreCall = [&] {
        if (entry == 13) {
          core.SetVolumePreset(c, d, g, x, value);
        } else {
          core.SetAmountPreset(c, d, g, x, value);
        }
        return std::vector<std::uint64_t>{};
      };
      break;
    case 15:
    case 19:
      stack = entry == 15 ? std::vector<std::uint32_t>{g} : std::vector<std::uint32_t>{g, x};
      coreCall = [&] {
        if (entry == 15) {
          core.Start(c, d, g);
        } else {
          core.Authorize(c, d, g, byte);
        }
        return std::vector<std::uint64_t>{};
      };
      break;
    case 16:
      coreCall = [&] {
        core.OpenChannel(c);
        return std::vector<std::uint64_t>{};
      };
      break;
    case 20:
      ecx = Dword(&option);
      dllResults = [&](auto& o) {
        return std::vector<std::uint64_t>{o.eax & 0xFF, std::uint32_t(option)};
      };
      coreCall = [&] {
        const bool known = core.QueryOption(c, option);
        return std::vector<std::uint64_t>{known, std::uint32_t(option)};
      };
      break;
    case 21:
      edx = c | (x & 0xFFFFFF00);  // bytes with garbage above them
      ecx = d | (x << 8);
      stack = {x, Dword(record)};
      dllResults = [&](auto&) { return std::vector<std::uint64_t>(record, record + 16); };
      coreCall = [&] {
        NozzleStatusRecord status;
        std::memset(status.bytes.data(), 0x5A, 16);
        core.GetNozzleStatus(std::uint8_t(c), std::uint8_t(d), byte, status);
        return std::vector<std::uint64_t>(status.bytes.begin(), status.bytes.end());
      };
      break;
    default:  // entry 0 and the no-operation entries, with their stack slots
      static constexpr int kSlots[24] = {0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0,
                                         1, 0, 0, 0, 0, 1, 2, 0, 0, 0, 0, 2};
      stack.assign(std::size_t(kSlots[entry]), x);
      coreCall = [&] {
        if (entry == 0) core.NotImplemented();
        return std::vector<std::uint64_t>{};
      };
  }

  const CallOutcome outcome = Entry(entry, edx, ecx, stack, entry == 9);
  ExpectHostStateKept(outcome);
  Seen dll;
  if (outcome.raised) {
    ASSERT_TRUE(outcome.code == kCodeSerialIO || outcome.code == kCodeRangeError ||
                outcome.code == kCodeAbstractError)
        << "entry " << entry << " raised " << std::hex << outcome.code;
    dll.className = outcome.className;
    dll.message = outcome.message;
  }
  dll.results = dllResults(outcome);
  if (outcome.raised) dll.results.clear();

  volume = amount = -3;
  option = -9;
  Seen direct = OnCore(coreCall);
  EXPECT_EQ(dll.className, direct.className) << "entry " << entry;
  EXPECT_EQ(dll.message, direct.message) << "entry " << entry;
  EXPECT_EQ(dll.results, direct.results) << "entry " << entry << " c " << c << " d " << d;
}

TEST_F(RandomHostCalls, EndExactlyAsOnTheCoreAndLeaveTheDriverWorking) {
  HostValues values;
  for (int i = 0; i < kCalls && !HasFailure(); ++i) {
    const int entry = int(values.random() % 24);
    const auto c = values.Number(), d = values.Number(), g = values.Number();
    Compare(entry, c, d, g, std::uint32_t(values.random()), values.Value());
  }
  EXPECT_EQ(host.fake.exchanges.size(), corePort.exchanges.size());

  // A sound line afterwards: the driver answers as on its first day.
  host.fake.responder = [](const ExchangeRecord& request) {
    return ScriptedReply{.reply =
                             quorlan::testing::Pairs(Bytes(std::size_t(request.expected / 2), 0))};
  };
  ExpectClean(Entry(16, 1));
  ExpectClean(Entry(10, 1, 1));
  ExpectClean(Entry(3, 1));
}

}  // namespace
}  // namespace quorlan::hosttest
