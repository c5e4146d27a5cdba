#pragma once
// What a simulated device sends back for one request.

#include <chrono>
#include <cstdint>

#include "Requests.h"

namespace quorlan::sim {

struct Response {
  enum class Delivery : std::uint8_t { Now, Late, Never };
  Delivery delivery = Delivery::Never;
  Bytes bytes;                         // line bytes, as the device sends them
  std::chrono::milliseconds delay{0};  // Late only
  bool Replied() const { return delivery != Delivery::Never; }
};

}  // namespace quorlan::sim
