#pragma once
// Wall-clock stamps as the API shows them.

#include <string>

namespace quorlan::station {

// "2026-12-07T10:15:02.120Z"
std::string NowUtc();

}  // namespace quorlan::station
