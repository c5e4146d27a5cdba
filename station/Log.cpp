// SPDX-License-Identifier: Apache-2.0
#include "station/Log.h"

#include <cstdio>

namespace quorlan::station {

void LogLine(std::string_view text) {
  fmt::print(stderr, "quorlan serve: {}\n", text);
}

}  // namespace quorlan::station
