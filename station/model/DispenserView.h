#pragma once
// A dispenser as clients see it: the last poll, the open fill, the link.

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "quorlan/Driver.h"
#include "station/base/Money.h"
#include "station/model/Records.h"

namespace quorlan::station {

// How the last exchange with a dispenser went.
enum class Link : std::uint8_t { Ok, NoReply, BadReply, LineDown };

inline constexpr std::array<std::string_view, 4> kLinkNames{"ok", "no reply", "bad reply",
                                                            "line down"};
// "ok", "no reply", "bad reply", "line down".
constexpr std::string_view LinkName(Link link) {
  return kLinkNames[static_cast<std::size_t>(link)];
}

struct DispenserView {
  int channel = 0;
  int dispenser = 0;
  DispenserState state = DispenserState::Unknown;
  int code = 0;
  int nozzle = 0;
  Cents volume = 0;
  Cents amount = 0;
  std::optional<OpenFill> fill;
  Link link = Link::Ok;  // or the last failure
  // When the dispenser last answered (or its line's worker began).
  std::chrono::steady_clock::time_point answeredAt;
  std::string updatedAt;
  int unpaid = 0;  // completed unpaid fills of the dispenser

  // Everything a client would notice, the time aside.
  bool SameAs(const DispenserView& other) const {
    return state == other.state && code == other.code && nozzle == other.nozzle &&
           volume == other.volume && amount == other.amount && fill == other.fill &&
           link == other.link && unpaid == other.unpaid;
  }
};

}  // namespace quorlan::station
