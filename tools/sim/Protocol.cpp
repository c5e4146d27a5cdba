#include "Protocol.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "link/Frame.h"

namespace quorlan::sim {
namespace {

struct RequestInfo {
  Request request;
  std::string_view name;
  bool second;
  std::uint8_t command;
  int dataBytes;
  int replyInfoBytes;
};

constexpr std::array<RequestInfo, kRequestKinds> kRequests{{
    {Request::Status, "status", false, 0xA1, 0, 9},
    {Request::SubStatus, "substatus", true, 0xA1, 0, 1},
    {Request::Release, "release", true, 0xA2, 0, 1},
    {Request::Stop, "stop", false, 0xA3, 0, 1},
    {Request::PriceTable, "prices", true, 0xA3, 16, 1},
    {Request::GradeOnePrice, "price1", false, 0xA6, 8, 2},
    {Request::Authorize, "authorize", false, 0xA4, 0, 1},
    {Request::PresetAuthorize, "preset", false, 0xA5, 9, 2},
    {Request::Totals, "totals", false, 0xA9, 1, 11},
}};

const RequestInfo& InfoOf(Request request) {
  return kRequests[static_cast<std::size_t>(request)];
}

}  // namespace

std::string_view RequestName(Request request) {
  return InfoOf(request).name;
}

std::optional<Request> ParseRequest(std::string_view name) {
  for (const auto& info : kRequests) {
    if (EqualsIgnoringCase(info.name, name)) return info.request;
  }
  return std::nullopt;
}

std::optional<Target> DecodeAddress(std::uint8_t addressByte) {
  for (int d = 1; d <= kMaxDispensers; ++d) {
    if (AddressByte(d) == addressByte) return Target{d, false};
    if (AddressByte(d + kSecondAddressOffset) == addressByte) return Target{d, true};
  }
  return std::nullopt;
}

std::optional<Request> ClassifyRequest(bool second, std::uint8_t command) {
  for (const auto& info : kRequests) {
    if (info.second == second && info.command == command) return info.request;
  }
  return std::nullopt;
}

int DataBytes(Request request) {
  return InfoOf(request).dataBytes;
}

int ReplyInfoBytes(Request request) {
  return InfoOf(request).replyInfoBytes;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

Bytes EncodePairs(std::span<const std::uint8_t> info) {
  Bytes line;
  line.reserve(info.size() * 2);
  for (auto byte : info) {
    line.push_back(byte);
    line.push_back(static_cast<std::uint8_t>(byte ^ 0xFF));
  }
  return line;
}

std::optional<Bytes> DecodePairs(std::span<const std::uint8_t> line) {
  if (line.size() % 2 != 0) return std::nullopt;
  Bytes info;
  info.reserve(line.size() / 2);
  for (std::size_t i = 0; i < line.size(); i += 2) {
    if ((line[i] ^ 0xFF) != line[i + 1]) return std::nullopt;
    info.push_back(line[i]);
  }
  return info;
}

}  // namespace quorlan::sim
