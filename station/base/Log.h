// SPDX-License-Identifier: Apache-2.0
#pragma once
// The service's one voice for what goes wrong while it runs: a line on
// standard error, which the service manager's journal keeps.

#include <fmt/format.h>

#include <string_view>

namespace quorlan::station {

void LogLine(std::string_view text);

template <typename... Args>
void Log(fmt::format_string<Args...> format, Args&&... args) {
  LogLine(fmt::format(format, std::forward<Args>(args)...));
}

}  // namespace quorlan::station
