// SPDX-License-Identifier: Apache-2.0
#pragma once
// Text from outside (a request path, a token name, a client's bytes) made
// safe for a one-line log: no control character reaches a terminal or a
// log viewer, and the line stays valid UTF-8.

#include <string>
#include <string_view>

namespace quorlan::station {

// Control characters (C0, DEL, C1) and bytes that are not UTF-8 become
// \xHH, a backslash becomes \\; everything else is kept.
std::string LogText(std::string_view text);

}  // namespace quorlan::station
