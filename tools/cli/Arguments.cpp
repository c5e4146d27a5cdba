#include "Arguments.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>

#include "ExitCodes.h"

namespace quorlan::cli {

namespace {

bool Digit(char ch) {
  return std::isdigit(static_cast<unsigned char>(ch)) != 0;
}

// Enough digits for the widest field and no more, so nothing overflows.
constexpr std::size_t kMostWholeDigits = 9;

std::string Decimal(std::int64_t hundredths) {
  return fmt::format("{}.{:02}", hundredths / 100, hundredths % 100);
}

}  // namespace

std::int64_t ParseHundredths(std::string_view option, std::string_view text, std::int64_t least,
                             std::int64_t most) {
  const auto fail = [&](std::string_view reason) {
    return UsageError(fmt::format("{} {}: {}", option, Shown(text), reason));
  };
  const auto point = text.find('.');
  const auto whole = text.substr(0, point);
  const auto fraction =
      point == std::string_view::npos ? std::string_view{} : text.substr(point + 1);
  const bool plain = !whole.empty() && std::all_of(whole.begin(), whole.end(), Digit) &&
                     std::all_of(fraction.begin(), fraction.end(), Digit) &&
                     (point == std::string_view::npos || !fraction.empty());
  if (!plain) throw fail("not a number");
  if (fraction.size() > 2) throw fail("at most two decimals");
  const auto significant = whole.find_first_not_of('0');
  if (significant != std::string_view::npos && whole.size() - significant > kMostWholeDigits) {
    throw fail(fmt::format("outside {}..{}", Decimal(least), Decimal(most)));
  }
  std::int64_t value = 0;
  for (char ch : whole) value = value * 10 + (ch - '0');
  value *= 100;
  if (!fraction.empty()) value += (fraction[0] - '0') * 10;
  if (fraction.size() == 2) value += fraction[1] - '0';
  if (value < least || value > most) {
    throw fail(fmt::format("outside {}..{}", Decimal(least), Decimal(most)));
  }
  return value;
}

double ParsePrice(std::string_view option, std::string_view text) {
  return static_cast<double>(ParseHundredths(option, text, kLeastPrice, kMostPrice)) / 100;
}

double ParseLimit(std::string_view option, std::string_view text) {
  return static_cast<double>(ParseHundredths(option, text, kLeastLimit, kMostLimit)) / 100;
}

PriceTable ParsePriceTable(std::string_view option, std::string_view text) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  while (start <= text.size()) {
    auto end = text.find_first_of(", \t", start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) fields.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (fields.size() != kTableGrades) {
    throw UsageError(fmt::format("{} {}: give {} prices, grades 1..{} in order", option,
                                 Shown(text), kTableGrades, kTableGrades));
  }
  PriceTable table{};
  for (std::size_t i = 0; i < fields.size(); ++i) {
    table[i] = ParsePrice(fmt::format("{} (grade {})", option, i + 1), fields[i]);
  }
  return table;
}

namespace {
std::string Escape(std::string_view text, std::size_t most) {
  std::string shown;
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto ch = static_cast<unsigned char>(text[i]);
    // UTF-8 continuation bytes do not start a character.
    const bool starts = (ch & 0xC0) != 0x80;
    if (starts && characters == most) return shown + "...";
    if (starts) ++characters;
    if (ch == '\n') {
      shown += "\\n";
    } else if (ch == '\t') {
      shown += "\\t";
    } else if (ch < 0x20 || ch == 0x7F) {
      shown += fmt::format("\\x{:02X}", ch);
    } else {
      shown += static_cast<char>(ch);
    }
  }
  return shown;
}
}  // namespace

std::string Shown(std::string_view text) {
  return Escape(text, kShownLength);
}

std::string Escaped(std::string_view text) {
  return Escape(text, std::string_view::npos);
}

std::string ShownMessage(std::string message, const std::vector<std::string>& args) {
  for (const auto& arg : args) {
    const auto shown = Shown(arg);
    if (arg.empty() || shown == arg) continue;
    for (auto at = message.find(arg); at != std::string::npos;
         at = message.find(arg, at + shown.size())) {
      message.replace(at, arg.size(), shown);
    }
  }
  // What the parser added itself (line breaks) stays on one line.
  for (auto& ch : message) {
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) ch = ' ';
  }
  return message;
}

std::string NearestName(std::string_view typed, const std::vector<std::string>& known) {
  const auto distance = [](std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
      std::size_t diagonal = row[0];
      row[0] = i;
      for (std::size_t j = 1; j <= b.size(); ++j) {
        const auto above = row[j];
        row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
        diagonal = above;
      }
    }
    return row[b.size()];
  };
  std::string best;
  std::size_t bestDistance = 0;
  for (const auto& name : known) {
    const auto d = distance(typed, name);
    if (best.empty() || d < bestDistance) {
      best = name;
      bestDistance = d;
    }
  }
  // A typo changes a few letters; beyond half the word it is another word.
  const auto allowed = std::max<std::size_t>(1, std::min(typed.size(), best.size()) / 2);
  return bestDistance <= allowed ? best : std::string{};
}

}  // namespace quorlan::cli
