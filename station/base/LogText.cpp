// SPDX-License-Identifier: Apache-2.0
#include "station/base/LogText.h"

#include <fmt/format.h>

namespace quorlan::station {

namespace {

// The length of the well-formed UTF-8 sequence of two or more bytes at
// `at`, or 0 (overlong forms, surrogates and values above U+10FFFF are not
// well-formed).
std::size_t SequenceLength(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const auto continuation = [&](std::size_t i, unsigned char low = 0x80,
                                unsigned char high = 0xBF) {
    return at + i < text.size() && byte(i) >= low && byte(i) <= high;
  };
  const unsigned char lead = byte(0);
  if (lead >= 0xC2 && lead <= 0xDF) return continuation(1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
    return continuation(1, low, high) && continuation(2) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
    return continuation(1, low, high) && continuation(2) && continuation(3) ? 4 : 0;
  }
  return 0;
}

// U+0080..U+009F, the C1 controls, are two bytes: C2 80..C2 9F.
bool IsC1(std::string_view sequence) {
  return sequence.size() == 2 && static_cast<unsigned char>(sequence[0]) == 0xC2 &&
         static_cast<unsigned char>(sequence[1]) <= 0x9F;
}

}  // namespace

std::string LogText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte == '\\') {
      out += "\\\\";
      ++at;
    } else if (byte >= 0x20 && byte < 0x7F) {
      out += static_cast<char>(byte);
      ++at;
    } else if (const std::size_t length = byte >= 0x80 ? SequenceLength(text, at) : 0;
               length > 0 && !IsC1(text.substr(at, length))) {
      out.append(text.substr(at, length));
      at += length;
    } else {
      // A control character, DEL, a C1 control's first byte or a stray byte;
      // a C1 control's second byte follows on the next turn.
      out += fmt::format("\\x{:02X}", byte);
      ++at;
    }
  }
  return out;
}

}  // namespace quorlan::station
