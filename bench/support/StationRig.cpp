#include "support/StationRig.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "sim/Requests.h"

namespace quorlan::bench {

namespace {

constexpr station::Cents kBenchPrice = 5290;

// A request as the line sees it: the dispenser of a status poll, or
// whether it belongs to a command.
LineEvent RequestEvent(std::span<const std::uint8_t> request) {
  LineEvent event{Clock::now(), true};
  if (request.size() < 3) return event;
  const auto target = sim::DecodeAddress(request[0]);
  if (!target) return event;
  const auto kind = sim::ClassifyRequest(target->second, request[2]);
  if (!kind) return event;
  if (*kind == sim::Request::Status) event.dispenser = target->dispenser;
  event.command = *kind != sim::Request::Status && *kind != sim::Request::SubStatus;
  return event;
}

}  // namespace

StationRig::StationRig(int dispensers, bool serveApi)
    : line_(std::make_shared<sim::Line>(
          sim::LineOptions{.dispensers = dispensers, .clock = {}, .startWithoutPrices = false})),
      server_(std::make_unique<sim::PtyServer>(line_, sim::PtyOptions{.pacing = true})) {
  server_->SetTrace(
      [this](sim::TraceDirection direction, int, std::span<const std::uint8_t> bytes) {
        const LineEvent event = direction == sim::TraceDirection::Request
                                    ? RequestEvent(bytes)
                                    : LineEvent{Clock::now(), false};
        std::lock_guard lock(eventsMutex_);
        events_.push_back(event);
      });
  server_->Start();

  station::StationConfig config;
  config.file = "bench";
  config.database = scratch_.File("station.db");
  config.auditLog = scratch_.File("audit.log");
  station::LineConfig line;
  line.channel = 1;
  line.port = server_->SlavePath();
  for (int d = 1; d <= dispensers; ++d) line.dispensers.push_back(d);
  config.lines.push_back(line);
  config.tokens.push_back({"bench", kBenchToken, station::Role::Admin});
  station_ = std::make_unique<station::Station>(config);

  std::vector<station::PriceEntry> book;
  nlohmann::json data = nlohmann::json::array();
  for (int d = 1; d <= dispensers; ++d) {
    for (int g = 1; g <= 4; ++g) book.push_back({1, d, g, kBenchPrice});
  }
  station_->Events().PublishCommitted("prices", data.dump(), [&](const station::StoredEvent& e) {
    station_->Journal().prices.Save(book, e);
    return true;
  });
  station_->Start();

  if (!serveApi) return;
  audit_ = std::make_unique<station::AuditLog>(config.auditLog);
  authenticator_ = std::make_unique<station::Authenticator>(config.tokens);
  api_ = std::make_unique<station::Api>(*station_, *authenticator_, *audit_);
  http::ServerOptions options;
  // Every client of a bench comes from 127.0.0.1.
  options.max_connections_per_client = options.max_connections;
  options.handler_threads = 32;  // as `quorlan serve` runs its routes
  http_ = std::make_unique<http::Server>(
      options,
      [this](const http::Request& request, http::Answer& answer) { api_->Route(request, answer); });
  http_->Start();
  httpPort_ = http_->Port();
}

StationRig::~StationRig() {
  StopStation();
  server_->Stop();
}

void StationRig::StopStation() {
  if (!station_) return;
  station_->Events().Close();
  if (http_) {
    api_->Streams().Stop();
    http_->Stop();
    http_.reset();
  }
  station_->Stop();
  station_.reset();
}

std::vector<LineEvent> StationRig::Events() {
  std::lock_guard lock(eventsMutex_);
  return events_;
}

void StationRig::Clear() {
  std::lock_guard lock(eventsMutex_);
  events_.clear();
}

double Quantile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto rank = static_cast<std::size_t>(std::ceil(p * double(values.size())));
  return values[std::min(values.size() - 1, rank == 0 ? 0 : rank - 1)];
}

}  // namespace quorlan::bench
