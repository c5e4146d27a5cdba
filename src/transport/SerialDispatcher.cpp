#include <mutex>
#include <stdexcept>

#include "quorlan/SerialTransport.h"

namespace quorlan::serial {

struct SerialDispatcher::Device {
  // Guards the line against mapping and queries from other threads.
  mutable std::mutex mutex;
  std::unique_ptr<SerialLine> line;
  std::int32_t baud = kLineBaud;
  std::string problem;

  bool Failed(std::string why) {
    problem = std::move(why);
    return false;
  }
  // Why the line did not open or was lost.
  bool Lost() {
    return Failed(line->Busy() ? "port busy: " + line->Path()
                               : line->Path() + ": " + line->Problem());
  }
};

SerialDispatcher::SerialDispatcher(LineTimeouts timeouts) : timeouts_(timeouts) {
  for (auto& slot : devices_) slot = std::make_unique<Device>();
}

SerialDispatcher::~SerialDispatcher() = default;

SerialDispatcher::Device* SerialDispatcher::Find(std::int32_t channel) const {
  if (channel < 0 || channel > kLastChannel) return nullptr;
  return devices_[static_cast<std::size_t>(channel)].get();
}

void SerialDispatcher::MapChannel(std::int32_t channel, std::string devicePath) {
  if (channel < 1 || channel > kLastChannel) {
    throw std::invalid_argument("channel " + std::to_string(channel) + " is outside 1..32");
  }
  Device& device = *Find(channel);
  std::lock_guard lock(device.mutex);
  device.line = std::make_unique<SerialLine>(std::move(devicePath));
  device.problem.clear();
}

void SerialDispatcher::SetEcho(std::int32_t channel, bool on) {
  Device* device = Find(channel);
  if (device) {
    std::lock_guard lock(device->mutex);
    if (device->line) {
      device->line->SetEcho(on);
      return;
    }
  }
  throw std::invalid_argument("channel " + std::to_string(channel) + " has no device");
}

bool SerialDispatcher::IsMapped(std::int32_t channel) const {
  const Device* device = Find(channel);
  if (!device) return false;
  std::lock_guard lock(device->mutex);
  return device->line != nullptr;
}

bool SerialDispatcher::IsOpen(std::int32_t channel) const {
  const Device* device = Find(channel);
  if (!device) return false;
  std::lock_guard lock(device->mutex);
  return device->line && device->line->IsOpen();
}

std::string SerialDispatcher::LineProblem(std::int32_t channel) const {
  const Device* device = Find(channel);
  if (!device) return "channel " + std::to_string(channel) + " is outside 0..32";
  std::lock_guard lock(device->mutex);
  return device->problem;
}

bool SerialDispatcher::SetUpLine(std::int32_t channel, std::int32_t lineSetting,
                                 std::int32_t baud) {
  Device& device = *Find(channel);
  std::lock_guard lock(device.mutex);
  if (!device.line) {
    return device.Failed("no device is mapped to channel " + std::to_string(channel));
  }
  if (lineSetting != kLineSetting8N1 || baud <= 0) {
    device.line->Close();
    return device.Failed("line setting " + std::to_string(lineSetting) + " at " +
                         std::to_string(baud) + " baud is not supported");
  }
  device.baud = baud;
  if (!device.line->Open(static_cast<unsigned>(baud))) return device.Lost();
  device.problem.clear();
  return true;
}

Transport::Received SerialDispatcher::Transfer(std::int32_t channel,
                                               std::span<const std::uint8_t> request,
                                               std::span<std::uint8_t> reply) {
  Device* device = Find(channel);
  if (!device) return Received::LineFailed();
  std::lock_guard lock(device->mutex);
  if (!device->line) {
    device->Failed("no device is mapped to channel " + std::to_string(channel));
    return Received::LineFailed();
  }
  // A line lost earlier (device unplugged, server restarted) is opened again.
  if (!device->line->IsOpen()) {
    if (!device->line->Open(static_cast<unsigned>(device->baud))) {
      device->Lost();
      return Received::LineFailed();
    }
    device->problem.clear();
  }
  const auto received = device->line->Transfer(request, reply, timeouts_);
  if (!received) {
    device->Lost();
    return Received::LineFailed();
  }
  return received->extra ? Received::Overrun(received->count) : Received::Bytes(received->count);
}

void SerialDispatcher::ReplyRefused(std::int32_t channel) {
  Device* device = Find(channel);
  if (!device) return;
  std::lock_guard lock(device->mutex);
  if (device->line) device->line->LoseStep();
}

}  // namespace quorlan::serial
