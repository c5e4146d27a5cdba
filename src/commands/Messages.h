#pragma once
// The messages of the exceptions the dispenser operations raise.

#include <string_view>

#include "base/Win1251.h"

namespace quorlan::messages {

inline constexpr std::string_view kStatusRequest =
    "Невозможно выполнить запрос состояния ТРК"_w1251;
inline constexpr std::string_view kRelease = "Невозможно освободить пистолет ТРК"_w1251;
inline constexpr std::string_view kTransactionRequest =
    "Невозможно выполнить запрос данных отлива ТРК"_w1251;
inline constexpr std::string_view kStop = "Невозможно остановить ТРК"_w1251;
inline constexpr std::string_view kSetPrice = "Невозможно выполнить установку цены"_w1251;
inline constexpr std::string_view kTotalsRequest =
    "Невозможно выполнить запрос счетчиков ТРК"_w1251;
inline constexpr std::string_view kCantStart = "Can't Start";

}  // namespace quorlan::messages
