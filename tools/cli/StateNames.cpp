#include "StateNames.h"

namespace quorlan::cli {

namespace {
bool NozzleCode(std::uint8_t code) {
  return code >= 0xD0 && code <= 0xEF;
}
}  // namespace

std::string_view StateName(std::uint8_t code) {
  if (code == 0x00) return "no reply";
  if (code == 0xC0) return "finished";
  if (!NozzleCode(code)) return "unknown";
  switch (code & 0xF8) {
    case 0xD0:
      return "filling";
    case 0xD8:
      return "stopped";
    case 0xE0:
      return "idle";
    default:
      return "authorized";
  }
}

int NozzleOf(std::uint8_t code) {
  return NozzleCode(code) ? code & 7 : 0;
}

}  // namespace quorlan::cli
