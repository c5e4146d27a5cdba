#pragma once
// The HTTP API under /api/v1, the event stream and the dashboard's files, as
// a router for the front door (station/http).

#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "station/api/Audit.h"
#include "station/api/Auth.h"
#include "station/api/EventStream.h"
#include "station/app/Station.h"
#include "station/http/Server.h"
#include "station/journal/Idempotency.h"

namespace quorlan::station {

// The OpenAPI document of the routes below.
std::string_view OpenApiDocument();

class Api {
 public:
  Api(Station& station, const Authenticator& authenticator, AuditLog& audit);
  // Answers one request; runs on the front door's route pool.
  void Route(const http::Request& request, http::Answer& answer);
  // The event streams' pump; ends with the station's event hub.
  EventStreams& Streams() { return streams_; }

  // What a route sees: the request, the parts its path pattern captures
  // (ids, an action) and who asks.
  struct Call {
    const http::Request& request;
    std::vector<std::string> captures;
    const Caller& caller;
    // The idempotent request's id (RequestId), when it has a key.
    std::optional<std::string> requestId;
  };

 private:
  using Handler = std::function<void(Api&, const Call&, http::Answer&)>;
  struct Entry {
    std::string method;
    std::regex path;
    std::string label;  // for the request counters: ids in paths make no label each
    Role role;
    Handler handler;
  };
  void Serve(const http::Request& request, http::Answer& answer, std::string& who);
  // A POST or PUT with an Idempotency-Key: the first runs `entry` and keeps
  // its answer, a repeat gets that answer.
  void Idempotent(const Entry& entry, const Call& call, http::Answer& answer);
  // Runs `work`, which answers; a refusal it throws becomes the answer.
  // The answer as kept for repeats, if one was given.
  static std::optional<StoredAnswer> Kept(http::Answer& answer, const std::function<void()>& work);
  // Keeps an answer already given; a failure to is logged, never answered.
  static void KeepQuietly(const IdempotencyScope& scope, const std::function<void()>& keep);

  void Health(http::Answer& answer);
  void Session(const Call& call, http::Answer& answer);
  void Dispensers(const Call& call, http::Answer& answer);
  void Dispenser(const Call& call, http::Answer& answer);
  void Authorize(const Call& call, http::Answer& answer);
  // The answer to a repeat of an authorization a restart cut off.
  void AuthorizationOutcome(const Call& call, http::Answer& answer);
  void StopOne(const Call& call, http::Answer& answer);
  void StopAll(const Call& call, http::Answer& answer);
  void GetPrices(const Call& call, http::Answer& answer);
  void PutPrices(const Call& call, http::Answer& answer);
  void Fills(const Call& call, http::Answer& answer);
  void Fill(const Call& call, http::Answer& answer);
  void Settle(const Call& call, http::Answer& answer);
  void Totals(const Call& call, http::Answer& answer);
  void Events(const Call& call, http::Answer& answer);
  void CloseShift(const Call& call, http::Answer& answer);
  void Shifts(const Call& call, http::Answer& answer);
  void Shift(const Call& call, http::Answer& answer);
  void Scrape(const Call& call, http::Answer& answer);

  Station& station_;
  const Authenticator& authenticator_;
  AuditLog& audit_;
  EventStreams streams_;
  Idempotency idempotency_;
  std::vector<Entry> routes_;
};

}  // namespace quorlan::station
