#include "link/Link.h"

#include <cstdio>
#include <string>

#include "link/Frame.h"
#include "link/Protocol.h"
#include "quorlan/Errors.h"

namespace quorlan {

namespace {

// Upper-case hexadecimal with at least two digits (F6, 1F4).
std::string Hex(std::uint32_t code) {
  char text[12];
  std::snprintf(text, sizeof text, "%02X", code);
  return text;
}

}  // namespace

Link::Link(TPortDispatcher& port, Logger& logger) : port_(port), logger_(logger) {}

ReplyVerifier Link::Verifier() {
  return {[](void* owner, std::int32_t channel, const std::uint8_t* reply, std::int32_t highIndex,
             std::int32_t received, std::int32_t expected) {
            return static_cast<Link*>(owner)->VerifyReply(channel, reply, highIndex, received,
                                                          expected);
          },
          this};
}

SetupHandler Link::Setup() {
  return {[](void* owner, std::int32_t channel) { static_cast<Link*>(owner)->SetupPort(channel); },
          this};
}

bool Link::VerifyReply(std::int32_t channel, const std::uint8_t* reply, std::int32_t highIndex,
                       std::int32_t received, std::int32_t expected) {
  logger_.Log(kTraceLevel, "Verif(" + std::to_string(channel) + ")");
  const auto refuse = [this, channel](std::uint32_t code) {
    port_.SetState(channel, kLinkBad);
    port_.SetError(channel, code);
    return false;
  };
  // A reply that cannot be checked is refused before the range error, so the
  // exchange fails instead of passing with whatever error the channel had.
  if (expected < 2) {
    refuse(kErrorBadLength);
    throw ERangeError();
  }
  // Remember how much arrived, so commands never decode bytes that did not.
  if (channel >= 0 && channel <= 255) receivedCount_[channel] = received;
  // An empty reply is refused even where expected - 2 is 0: no bytes is no
  // reply, never a good one.
  if (received < 2 || (received != 2 && received != expected && received != expected - 2)) {
    return refuse(kErrorBadLength);
  }
  // Every pair checked must lie inside the buffer the dispatcher handed us.
  const std::int32_t lastChecked = received / 2 * 2 - 1;
  if (reply == nullptr || lastChecked > highIndex) {
    refuse(kErrorBadLength);
    throw ERangeError();
  }
  for (std::int32_t i = 0; i + 1 < received; i += 2) {
    if (reply[i] + reply[i + 1] != kComplement) return refuse(kErrorBadComplement);
  }
  port_.SetState(channel, kLinkGood);
  port_.SetError(channel, 0);
  return true;
}

std::uint32_t Link::Transact(std::int64_t channel, int subAddress, std::uint8_t expectedLength,
                             int n, ReplyBuffer& data, std::uint8_t command) {
  // The host's dispatcher sees channels as 32-bit values; callers have
  // already narrowed theirs to a byte.
  const auto line = static_cast<std::int32_t>(channel);
  port_.SetVerifier(line, Verifier());
  Stage stage = Stage::Building;
  std::uint32_t code = 0;
  try {
    if (n < 0 || n > kMaxRequestData) throw ERangeError();
    const Frame frame = BuildFrame(subAddress, command, std::span(data.data(), std::size_t(n)));
    if (line >= 0 && line <= 255) receivedCount_[line] = 0;
    stage = Stage::Exchanging;
    code = port_.Exchange(line, frame.bytes.data(), frame.length, data.data(), expectedLength, 0);
    stage = Stage::Exchanged;
    const std::uint8_t state = port_.GetState(line);
    linkState_[channel] = state;
    if (code != 0) logger_.Log(kTraceLevel, "Error connect BS: " + Hex(code));
  } catch (const std::exception& error) {
    code = ErrorAfterException(line, stage, error.what());
  } catch (...) {
    code = ErrorAfterException(line, stage, "");
  }
  return code;
}

std::uint32_t Link::ErrorAfterException(std::int32_t line, Stage stage, std::string_view what) {
  // Once the dispatcher has returned, the exchange is over and the channel's
  // error stands; only recording its link state failed. Before that, an
  // error of 0 would report an exchange that never happened, or never
  // finished, as a success.
  std::uint32_t code = stage == Stage::Building ? 0 : port_.GetError(line);
  if (code == 0 && stage != Stage::Exchanged)
    code = static_cast<std::uint32_t>(LinkError::DriverFailure);
  if (code != 0) {
    logger_.Log(kTraceLevel, "Exception error connect BS(" + std::string(what) + "): " + Hex(code));
  }
  return code;
}

void Link::SetupChannel(std::int64_t channel) {
  const auto line = static_cast<std::int32_t>(channel);
  port_.SetSetupHandler(line, Setup());
  SetupPort(line);
}

void Link::SetupPort(std::int32_t channel) {
  port_.Configure(channel, kLineSetting8N1, kLineBaud);
}

}  // namespace quorlan
