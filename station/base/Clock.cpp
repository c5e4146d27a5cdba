#include "station/base/Clock.h"

#include <fmt/chrono.h>
#include <fmt/format.h>

#include <chrono>

namespace quorlan::station {

std::string NowUtc() {
  const auto now = std::chrono::system_clock::now();
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  return fmt::format("{:%Y-%m-%dT%H:%M:%S}.{:03}Z", utc, millis);
}

}  // namespace quorlan::station
