// Numbers on the line: digit pairs of any 64-bit integer, values in
// hundredths of any double, BCD bytes read back, and request frames of any
// size, each against an independent statement of its rule.

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "Check.h"
#include "FuzzInput.h"
#include "base/Errors.h"
#include "link/Bcd.h"
#include "link/Frame.h"

namespace quorlan::fuzz {
namespace {

// Digit pair k read off the decimal digits of |x|; a negative x has no
// valid non-zero pair.
std::optional<std::uint8_t> PairFromDigits(std::int64_t x, int k) {
  const auto magnitude = static_cast<unsigned __int128>(x < 0 ? -static_cast<__int128>(x) : x);
  std::string text;
  for (auto m = magnitude; m != 0; m /= 10) text.push_back(static_cast<char>('0' + int(m % 10)));
  const auto digit = [&text](std::size_t i) { return i < text.size() ? text[i] - '0' : 0; };
  const int low = digit(2 * std::size_t(k)), high = digit(2 * std::size_t(k) + 1);
  if (x < 0 && (low != 0 || high != 0)) return std::nullopt;
  return static_cast<std::uint8_t>(high * 16 + low);
}

void CheckPair(std::int64_t x, int k) {
  const auto want = PairFromDigits(x, k);
  try {
    const std::uint8_t pair = BcdPair(x, k);
    FUZZ_CHECK(want && pair == *want, "pair %d of %lld is %02X", k, (long long)x, pair);
  } catch (const ERangeError&) {
    FUZZ_CHECK(!want, "pair %d of %lld refused", k, (long long)x);
  }
}

// x87 long doubles hold the exact product of a double and 100 (53 + 7 bits).
constexpr bool kExactLongDouble = std::numeric_limits<long double>::digits >= 60;

void CheckHundredths(double value) {
  std::optional<std::int32_t> want;
  if (std::isfinite(value) && kExactLongDouble) {
    const long double rounded = std::nearbyintl(static_cast<long double>(value) * 100.0L);
    if (rounded >= std::numeric_limits<std::int32_t>::min() &&
        rounded <= std::numeric_limits<std::int32_t>::max()) {
      want = static_cast<std::int32_t>(rounded);
    }
  }
  try {
    const std::int32_t got = ToHundredths(value);
    FUZZ_CHECK(std::isfinite(value), "non-finite value gave %d", got);
    FUZZ_CHECK(!kExactLongDouble || (want && got == *want), "%.17g gave %d", value, got);
  } catch (const ERangeError&) {
    FUZZ_CHECK(!kExactLongDouble || !want, "%.17g refused", value);
  }
}

void CheckBcdByte(std::uint8_t b) {
  const auto value = BcdToInt(b);
  FUZZ_CHECK(value == (b >> 4) * 10 + (b & 0x0F), "BcdToInt(%02X) = %lld", b, (long long)value);
  if (IsBcdByte(b)) FUZZ_CHECK(BcdPair(value, 0) == b, "%02X does not round-trip", b);
}

void CheckFrame(int subAddress, std::uint8_t command, const std::vector<std::uint8_t>& data) {
  try {
    const Frame frame = BuildFrame(subAddress, command, data);
    FUZZ_CHECK(data.size() <= kMaxRequestData, "%zu data bytes framed", data.size());
    FUZZ_CHECK(frame.length == 2 * (int(data.size()) + 2), "frame length %d", frame.length);
    const auto bytes = frame.View();
    FUZZ_CHECK(bytes[0] == ((subAddress - 0x11) & 0xFF) && bytes[2] == command, "frame head");
    for (std::size_t i = 0; i < data.size(); ++i) FUZZ_CHECK(bytes[4 + 2 * i] == data[i], "data");
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
      FUZZ_CHECK((bytes[i] ^ 0xFF) == bytes[i + 1], "pair %zu not complemented", i / 2);
    }
  } catch (const ERangeError&) {
    FUZZ_CHECK(data.size() > kMaxRequestData, "%zu data bytes refused", data.size());
  }
}

}  // namespace
}  // namespace quorlan::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorlan::fuzz;
  FuzzInput input(data, size);
  const auto x = input.Raw<std::int64_t>();
  for (int k = 0; k < 11; ++k) CheckPair(x, k);
  CheckPair(input.Raw<std::int32_t>(), input.Byte() % 6);
  CheckHundredths(input.HostDouble());
  CheckHundredths(input.Raw<double>());
  CheckBcdByte(input.Byte());
  const int subAddress = input.Bool() ? input.Byte() + 208 : input.Raw<std::int16_t>();
  const std::uint8_t command = input.Byte();
  CheckFrame(subAddress, command, input.Bytes(input.Byte() % 132));
  return 0;
}
