#include "station/base/Clock.h"

#include "station/base/Instant.h"

namespace quorlan::station {

std::string NowUtc() {
  return FormatUtc(Now());
}

}  // namespace quorlan::station
