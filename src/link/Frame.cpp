#include "link/Frame.h"

#include "base/Errors.h"

namespace quorlan {

Frame BuildFrame(int subAddress, std::uint8_t command, std::span<const std::uint8_t> data) {
  if (data.size() > kMaxRequestData) throw ERangeError();
  Frame frame;
  auto put = [&frame](std::uint8_t info) {
    frame.bytes[frame.length++] = info;
    frame.bytes[frame.length++] = static_cast<std::uint8_t>(info ^ kComplement);
  };
  put(AddressByte(subAddress));
  put(command);
  for (auto b : data) put(b);
  return frame;
}

}  // namespace quorlan
