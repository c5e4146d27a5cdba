#pragma once
// The driver's own texts are written in UTF-8 in the sources but travel as
// Windows-1251 bytes (log lines, exception messages, the description), so the
// bytes are the same on every platform. Conversion happens at compile time:
//   constexpr std::string_view msg = "Невозможно"_w1251;

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace quorlan {

namespace detail {

template <std::size_t N>
struct Utf8Literal {
  char chars[N]{};
  constexpr Utf8Literal(const char (&text)[N]) {
    for (std::size_t i = 0; i < N; ++i) chars[i] = text[i];
  }
};

// Windows-1251 byte of a code point the driver's texts may hold; anything else
// is a compile-time error (throw in a constant expression).
consteval unsigned char Win1251Byte(char32_t cp) {
  if (cp < 0x80) return static_cast<unsigned char>(cp);
  if (cp >= 0x0410 && cp <= 0x044F) return static_cast<unsigned char>(0xC0 + (cp - 0x0410));
  if (cp == 0x0401) return 0xA8;  // Ё
  if (cp == 0x0451) return 0xB8;  // ё
  if (cp == 0x2116) return 0xB9;  // №
  throw "character has no Windows-1251 byte in this table";
}

template <Utf8Literal S>
consteval auto ConvertToWin1251() {
  struct Result {
    std::array<char, sizeof(S.chars)> bytes{};
    std::size_t size = 0;
  } out;
  std::size_t i = 0;
  while (i + 1 < sizeof(S.chars)) {
    auto b = static_cast<unsigned char>(S.chars[i]);
    char32_t cp = 0;
    if (b < 0x80) {
      cp = b;
      i += 1;
    } else if ((b & 0xE0) == 0xC0) {
      cp = ((b & 0x1Fu) << 6) | (static_cast<unsigned char>(S.chars[i + 1]) & 0x3Fu);
      i += 2;
    } else if ((b & 0xF0) == 0xE0) {
      cp = ((b & 0x0Fu) << 12) | ((static_cast<unsigned char>(S.chars[i + 1]) & 0x3Fu) << 6) |
           (static_cast<unsigned char>(S.chars[i + 2]) & 0x3Fu);
      i += 3;
    } else {
      throw "unsupported UTF-8 sequence";
    }
    out.bytes[out.size++] = static_cast<char>(Win1251Byte(cp));
  }
  return out;
}

template <Utf8Literal S>
inline constexpr auto kWin1251 = ConvertToWin1251<S>();

}  // namespace detail

template <detail::Utf8Literal S>
constexpr std::string_view operator""_w1251() {
  return std::string_view(detail::kWin1251<S>.bytes.data(), detail::kWin1251<S>.size);
}

// Runtime conversion the other way, for terminals and test diagnostics.
std::string Win1251ToUtf8(std::string_view bytes);

}  // namespace quorlan
