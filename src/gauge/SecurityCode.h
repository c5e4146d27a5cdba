// SPDX-License-Identifier: Apache-2.0
#pragma once
// The gauge's security code kept in a file, so that it never stands on a
// command line or in a configuration that is shown: its first line.

#include <string>

namespace quorlan::gauge {

// The code on the file's first line, without its line end.
// std::invalid_argument ("cannot be read", "not a security code (1 to 16
// visible ASCII characters)"); the message never holds the code.
std::string ReadSecurityCodeFile(const std::string& path);

}  // namespace quorlan::gauge
