// SPDX-License-Identifier: Apache-2.0
#pragma once
// An exchange or noise the tap heard, as a line for people or a JSON line.

#include <string>

#include "TapDecoder.h"

namespace quorlan::cli::tap {

// "14:02:07.318 dispenser 1 status: valid reply after 2.1 ms; state idle, ..."
std::string TextLine(const Event& event);
// One JSON object on one line.
std::string JsonLine(const Event& event);
// What the verdict says: "valid", "no reply", "short", "broken complement".
std::string VerdictName(Verdict verdict);

}  // namespace quorlan::cli::tap
