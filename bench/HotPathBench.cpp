// The link layer's hot paths: framing, the reply check and the number
// conversions every command runs. Only the reply check logs; the others have
// no logging variant because they never write a line.

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

#include "link/Bcd.h"
#include "link/Frame.h"
#include "link/Link.h"
#include "sim/SimDispatcher.h"
#include "support/Logging.h"
#include "support/ReplayDispatcher.h"
#include "support/ScratchDirectory.h"

namespace quorlan::bench {
namespace {

void BuildStatusFrame(benchmark::State& state) {
  for (auto _ : state) {
    Frame frame = BuildFrame(1, 0xA1, {});
    benchmark::DoNotOptimize(frame);
  }
}
BENCHMARK(BuildStatusFrame);

void BuildPriceTableFrame(benchmark::State& state) {
  const std::array<std::uint8_t, 16> prices{0x45, 0x67, 0x45, 0x67, 0x22, 0x22, 0x22, 0x22,
                                            0x33, 0x33, 0x33, 0x33, 0x44, 0x44, 0x44, 0x44};
  for (auto _ : state) {
    Frame frame = BuildFrame(1 + kSecondAddressOffset, 0xA3, prices);
    benchmark::DoNotOptimize(frame);
  }
}
BENCHMARK(BuildPriceTableFrame);

// The check of a full 18-byte status reply; it writes one trace line.
void VerifyStatusReply(benchmark::State& state, Logging logging) {
  sim::SimDispatcher unused;
  ReplayDispatcher port(unused);
  port.Replay();  // SetState and SetError stay in memory
  ScratchDirectory scratch;
  Logger logger(SystemLogPlatform());
  logger.SetFileName(logging == Logging::ToFile ? scratch.File("driver.log") : "");
  Link link(port, logger);
  std::array<std::uint8_t, kReplyBufferSize> reply{};
  const std::uint8_t info[9] = {0xF1, 0xA1, 0x25, 0x01, 0x00, 0x50, 0x02, 0x00, 0xA0};
  for (int i = 0; i < 9; ++i) {
    reply[2 * i] = info[i];
    reply[2 * i + 1] = static_cast<std::uint8_t>(~info[i]);
  }
  for (auto _ : state) {
    bool good = link.VerifyReply(1, reply.data(), kReplyBufferSize - 1, 18, 18);
    benchmark::DoNotOptimize(good);
  }
}
BENCHMARK_CAPTURE(VerifyStatusReply, log_off, Logging::Off);
BENCHMARK_CAPTURE(VerifyStatusReply, log_file, Logging::ToFile);

void BcdPairsOfALimit(benchmark::State& state) {
  std::int64_t value = 123456;
  for (auto _ : state) {
    benchmark::DoNotOptimize(value);
    std::uint8_t pairs[3] = {BcdPair(value, 0), BcdPair(value, 1), BcdPair(value, 2)};
    benchmark::DoNotOptimize(pairs);
  }
}
BENCHMARK(BcdPairsOfALimit);

void BcdToIntOfAVolume(benchmark::State& state) {
  const std::array<std::uint8_t, 3> bytes{0x12, 0x34, 0x56};
  for (auto _ : state) {
    std::int64_t value = BcdToInt(std::span(bytes));
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BcdToIntOfAVolume);

void ToHundredthsOfAPrice(benchmark::State& state) {
  double price = 45.67;
  for (auto _ : state) {
    benchmark::DoNotOptimize(price);
    std::int32_t hundredths = ToHundredths(price);
    benchmark::DoNotOptimize(hundredths);
  }
}
BENCHMARK(ToHundredthsOfAPrice);

}  // namespace
}  // namespace quorlan::bench
