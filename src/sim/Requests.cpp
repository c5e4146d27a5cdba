#include "Requests.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace quorlan::sim {
namespace {

struct RequestInfo {
  Request request;
  std::string_view name;
  RequestShape shape;
};

constexpr std::array<RequestInfo, kRequestKinds> kRequests{{
    {Request::Status, "status", requests::kStatus},
    {Request::SubStatus, "substatus", requests::kSubStatus},
    {Request::Release, "release", requests::kRelease},
    {Request::Stop, "stop", requests::kStop},
    {Request::PriceTable, "prices", requests::kPriceTable},
    {Request::GradeOnePrice, "price1", requests::kGradeOnePrice},
    {Request::Authorize, "authorize", requests::kAuthorize},
    {Request::PresetAuthorize, "preset", requests::kPresetAuthorize},
    {Request::Totals, "totals", requests::kTotals},
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
  for (int d = 1; d <= kLastDispenser; ++d) {
    if (AddressByte(d) == addressByte) return Target{d, false};
    if (AddressByte(d + kSecondAddressOffset) == addressByte) return Target{d, true};
  }
  return std::nullopt;
}

std::optional<Request> ClassifyRequest(bool second, std::uint8_t command) {
  for (const auto& info : kRequests) {
    if (info.shape.secondAddress == second && info.shape.command == command) return info.request;
  }
  return std::nullopt;
}

int DataBytes(Request request) {
  return InfoOf(request).shape.dataBytes;
}

int ReplyInfoBytes(Request request) {
  return InfoOf(request).shape.replyInfoBytes;
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
    line.push_back(static_cast<std::uint8_t>(byte ^ kComplement));
  }
  return line;
}

std::optional<Bytes> DecodePairs(std::span<const std::uint8_t> line) {
  if (line.size() % 2 != 0) return std::nullopt;
  Bytes info;
  info.reserve(line.size() / 2);
  for (std::size_t i = 0; i < line.size(); i += 2) {
    if ((line[i] ^ kComplement) != line[i + 1]) return std::nullopt;
    info.push_back(line[i]);
  }
  return info;
}

}  // namespace quorlan::sim
