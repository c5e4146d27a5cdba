// SPDX-License-Identifier: Apache-2.0
#include "WholeNumber.h"

#include <fmt/format.h>

#include <charconv>

#include "Arguments.h"

namespace quorlan::cli {

CLI::Option* WholeNumberIn(CLI::Option* option, int least, int most) {
  CLI::Validator check(
      [least, most](std::string& text) -> std::string {
        int value = 0;
        const auto* end = text.data() + text.size();
        const auto [at, error] = std::from_chars(text.data(), end, value);
        if (text.empty() || error == std::errc::invalid_argument || at != end) {
          return fmt::format("{} is not a whole number", Shown(text));
        }
        if (error == std::errc::result_out_of_range || value < least || value > most) {
          return fmt::format("{} is outside {}..{}", Shown(text), least, most);
        }
        return {};
      },
      "");
  return option->check(check)->type_name(fmt::format("{}..{}", least, most));
}

}  // namespace quorlan::cli
