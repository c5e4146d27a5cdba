#pragma once
// The HTTP API under /api/v1, the event stream and the dashboard's files.

#include <httplib.h>

#include <map>
#include <mutex>
#include <string>

#include "station/Audit.h"
#include "station/Auth.h"
#include "station/EventStream.h"
#include "station/Idempotency.h"
#include "station/Station.h"

namespace quorlan::station {

inline constexpr std::size_t kMaxBody = 64 * 1024;
// Streams never take the last threads: requests keep being answered.
inline constexpr int kServerThreads = kMaxStreams + 32;

// The OpenAPI document of the routes below.
std::string_view OpenApiDocument();

class Api {
 public:
  Api(Station& station, const Authenticator& authenticator, AuditLog& audit);
  // Routes, limits and timeouts.
  void Register(httplib::Server& server);

 private:
  using Handler =
      std::function<void(const httplib::Request&, httplib::Response&, const Caller& caller)>;
  httplib::Server::Handler Guard(Role role, Handler handler);
  // The same for a route with a body, which must arrive whole within its
  // time.
  httplib::Server::HandlerWithContentReader GuardBody(Role role, Handler handler);

  void Dispensers(const httplib::Request&, httplib::Response&);
  void Dispenser(const httplib::Request&, httplib::Response&);
  void Authorize(const httplib::Request&, httplib::Response&, const Caller&);
  void StopOne(const httplib::Request&, httplib::Response&);
  void StopAll(const httplib::Request&, httplib::Response&);
  void GetPrices(const httplib::Request&, httplib::Response&);
  void PutPrices(const httplib::Request&, httplib::Response&);
  void Fills(const httplib::Request&, httplib::Response&);
  void Fill(const httplib::Request&, httplib::Response&);
  void Totals(const httplib::Request&, httplib::Response&);
  void Events(const httplib::Request&, httplib::Response&);
  void Health(const httplib::Request&, httplib::Response&);
  void Settle(const httplib::Request&, httplib::Response&, const Caller&);
  void CloseShift(const httplib::Request&, httplib::Response&, const Caller&);
  void Shifts(const httplib::Request&, httplib::Response&);
  void Shift(const httplib::Request&, httplib::Response&);

  // A POST or PUT with an Idempotency-Key: the first runs `handler` and
  // keeps its answer, a repeat gets that answer.
  void Idempotent(const httplib::Request& req, httplib::Response& res, const Caller& caller,
                  const Handler& handler);

  // Who is being served, for the audit line written after the answer: by
  // the response, which the handler and the logger share.
  void Identify(const httplib::Response& res, const std::string& caller);
  std::string Forget(const httplib::Response& res);

  Station& station_;
  const Authenticator& authenticator_;
  AuditLog& audit_;
  EventStreams streams_;
  std::mutex callersMutex_;
  std::map<const httplib::Response*, std::string> callers_;
  Idempotency idempotency_;
};

}  // namespace quorlan::station
