// SPDX-License-Identifier: Apache-2.0
#pragma once
// The words the journal and the API write for the records' enums: one table
// each, read both ways, so a word stored today is the word read back.

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

#include "station/model/Records.h"

namespace quorlan::station {

template <typename Enum, std::size_t Count>
struct WordTable {
  std::array<std::string_view, Count> words;  // in the enum's order

  constexpr std::string_view Word(Enum value) const {
    return words[static_cast<std::size_t>(value)];
  }
  constexpr std::optional<Enum> Parse(std::string_view word) const {
    for (std::size_t i = 0; i < Count; ++i) {
      if (words[i] == word) return static_cast<Enum>(i);
    }
    return std::nullopt;
  }
};

// Where a completed fill's figures come from: the journal's column and the
// API's `settled_from` alike.
inline constexpr WordTable<SettledFrom, 3> kSettledWords{{"readout", "totals", "last seen"}};

// A fill's stage as the journal's status column keeps it.
inline constexpr WordTable<FillStatus, 4> kStoredStatusWords{
    {"pending", "open", "done", "cancelled"}};

}  // namespace quorlan::station
