// SPDX-License-Identifier: Apache-2.0
#pragma once
// A check for options that take a whole number in a range: its message says
// which of the two is wrong ("x is not a whole number", "33 is outside
// 1..32") and the help shows the range as "1..32".

#include <CLI/CLI.hpp>

namespace quorlan::cli {

// Checks the option and names its type "least..most".
CLI::Option* WholeNumberIn(CLI::Option* option, int least, int most);

}  // namespace quorlan::cli
