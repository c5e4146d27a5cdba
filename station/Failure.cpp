// SPDX-License-Identifier: Apache-2.0
#include "station/Failure.h"

#include <fmt/format.h>

#include "station/JsonInput.h"
#include "station/LogText.h"
#include "station/RepeatFilter.h"

namespace quorlan::station {

namespace {

// A failure that repeats is written once, then summarized.
void WriteCause(const std::string& cause) {
  static RepeatFilter repeats;
  for (const auto& line : repeats.Take(LogText(cause))) {
    fmt::print(stderr, "quorlan serve: {}\n", line);
  }
}

}  // namespace

int StatusFor(const std::exception& error) {
  if (dynamic_cast<const InputError*>(&error)) return 400;
  return 500;
}

std::string DetailFor(const std::exception& error) {
  if (dynamic_cast<const InputError*>(&error)) return error.what();
  WriteCause(error.what());
  return "an unexpected failure; the service log has its cause";
}

}  // namespace quorlan::station
