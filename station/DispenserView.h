#pragma once
// A dispenser as clients see it: the last poll, the open fill, the link.

#include <cstdint>
#include <optional>
#include <string>

#include "station/Money.h"

namespace quorlan::station {

struct DispenserView {
  int channel = 0;
  int dispenser = 0;
  std::string state = "unknown";
  int code = 0;
  int nozzle = 0;
  Cents volume = 0;
  Cents amount = 0;
  // Of the open fill; none when there is no open fill.
  std::optional<int> grade;
  std::optional<Cents> price;
  FillLimit limit;
  std::optional<std::int64_t> fillId;
  std::string link = "ok";  // or the last failure: "no reply", "bad reply", "line down"
  std::string updatedAt;

  // Everything a client would notice, the time aside.
  bool SameAs(const DispenserView& other) const {
    return state == other.state && code == other.code && nozzle == other.nozzle &&
           volume == other.volume && amount == other.amount && grade == other.grade &&
           price == other.price && limit == other.limit && fillId == other.fillId &&
           link == other.link;
  }
};

}  // namespace quorlan::station
