// SPDX-License-Identifier: Apache-2.0
#include "station/base/Log.h"

#include <cstdio>

#include "station/base/LogText.h"

namespace quorlan::station {

void LogLine(std::string_view text) {
  // Whatever the line carries (a token name, a client's bytes) stays one
  // printable line.
  fmt::print(stderr, "quorlan serve: {}\n", LogText(text));
}

}  // namespace quorlan::station
