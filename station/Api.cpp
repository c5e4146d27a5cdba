#include "station/Api.h"

#include <charconv>
#include <chrono>
#include <map>
#include <set>

#include "station/Failure.h"
#include "station/FillQuery.h"
#include "station/Instant.h"
#include "station/JsonInput.h"
#include "station/JsonViews.h"
#include "station/ShiftCsv.h"
#include "web/Assets.h"

namespace quorlan::station {

namespace {

using nlohmann::json;

constexpr std::string_view kJson = "application/json";
constexpr std::string_view kProblemJson = "application/problem+json";
constexpr std::chrono::seconds kHeaderTime{10};
constexpr std::chrono::seconds kBodyTime{30};
constexpr std::string_view kCsv = "text/csv; charset=utf-8";
constexpr char kIdempotencyKey[] = "Idempotency-Key";
constexpr int kDefaultShifts = 100;
constexpr int kMaxShifts = 1000;

// A request that ends in a problem answer.
struct Problem {
  int status;
  std::string detail;
};

std::string_view Title(int status) {
  switch (status) {
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 408:
      return "Request Timeout";
    case 409:
      return "Conflict";
    case 413:
      return "Payload Too Large";
    case 422:
      return "Unprocessable Content";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    default:
      return status >= 500 ? "Internal Server Error" : "Error";
  }
}

void WriteProblem(httplib::Response& res, int status, const std::string& detail) {
  res.status = status;
  const json body{
      {"type", "about:blank"}, {"title", Title(status)}, {"status", status}, {"detail", detail}};
  // The detail may quote a client's bytes, which need not be UTF-8.
  res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace),
                  std::string(kProblemJson));
}

void WriteJson(httplib::Response& res, const json& body) {
  res.status = 200;
  res.set_content(body.dump(), std::string(kJson));
}

// A path number; anything beyond an int names nothing.
int PathNumber(const httplib::Request& req, std::size_t index) {
  const std::string& text = req.matches[static_cast<int>(index)].str();
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) {
    throw Problem{404, "no such resource: " + req.path};
  }
  return value;
}

json ParseBody(const httplib::Request& req) {
  return ParseRequestBody(req.body);
}

void OnlyKeys(const json& object, std::initializer_list<std::string_view> known,
              std::string_view what) {
  if (!object.is_object()) throw Problem{400, std::string(what) + " must be a JSON object"};
  for (const auto& [key, value] : object.items()) {
    if (std::find(known.begin(), known.end(), key) == known.end()) {
      throw Problem{400, "unknown field '" + key + "' in " + std::string(what)};
    }
  }
}

int IntegerField(const json& object, const char* key, int low, int high) {
  if (!object.contains(key)) throw Problem{400, std::string("'") + key + "' is missing"};
  const json& value = object.at(key);
  if (!value.is_number_integer())
    throw Problem{400, std::string("'") + key + "' must be an integer"};
  const auto number = value.get<std::int64_t>();
  if (number < low || number > high) {
    throw Problem{400, std::string("'") + key + "' must be " + std::to_string(low) + ".." +
                           std::to_string(high)};
  }
  return static_cast<int>(number);
}

Cents MoneyField(const json& object, const char* key, Cents low, Cents high) {
  const json& value = object.at(key);
  if (!value.is_number()) throw Problem{400, std::string("'") + key + "' must be a number"};
  const auto cents = ExactCents(value.get<double>());
  if (!cents) throw Problem{400, std::string("'") + key + "' has more than two decimals"};
  if (*cents < low || *cents > high) {
    throw Problem{400, std::string("'") + key + "' must be " + json(FromCents(low)).dump() + ".." +
                           json(FromCents(high)).dump()};
  }
  return *cents;
}

int QueryInteger(const httplib::Request& req, const char* key, int fallback, int low, int high) {
  if (!req.has_param(key)) return fallback;
  const std::string text = req.get_param_value(key);
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    throw Problem{400, std::string("'") + key + "' must be an integer " + std::to_string(low) +
                           ".." + std::to_string(high)};
  }
  return value;
}

void Answer(httplib::Response& res, const CommandResult& result) {
  switch (result.outcome) {
    case Outcome::Done:
      return WriteJson(res, PayloadJson(result.body));
    case Outcome::Refused:
      throw Problem{409, result.detail};
    case Outcome::NoAck:
      throw Problem{502, result.detail};
    case Outcome::LineDown:
    case Outcome::Unavailable:
      throw Problem{503, result.detail};
  }
}

}  // namespace

Api::Api(Station& station, const Authenticator& authenticator, AuditLog& audit)
    : station_(station),
      authenticator_(authenticator),
      audit_(audit),
      streams_(station),
      idempotency_(station.Journal()) {}

void Api::Idempotent(const httplib::Request& req, httplib::Response& res, const Caller& caller,
                     const Handler& handler) {
  const std::string key = req.get_header_value(kIdempotencyKey);
  if (!ValidIdempotencyKey(key)) {
    throw Problem{400, "'Idempotency-Key' must be 1..64 visible ASCII characters"};
  }
  const IdempotencyScope scope{caller.name, req.method, req.path, key};
  const std::string hash = BodyHash(req.body);
  const Idempotency::Decision decision = idempotency_.Begin(scope, hash, Now());
  switch (decision.verdict) {
    case Idempotency::Verdict::Replay:
      res.status = decision.answer.status;
      res.set_content(decision.answer.body, decision.answer.contentType);
      return;
    case Idempotency::Verdict::OtherBody:
      throw Problem{422, "this Idempotency-Key was used with another body on this route"};
    case Idempotency::Verdict::Interrupted:
      throw Problem{409,
                    "the first request with this Idempotency-Key was cut off by a restart of "
                    "the service before it answered: look up its outcome before sending another"};
    case Idempotency::Verdict::Run:
      break;
  }
  // Refusals are answers too, and kept; a failure of the service is not,
  // and a repeat runs again.
  IdempotencyTicket ticket(idempotency_, scope, hash);
  try {
    handler(req, res, caller);
  } catch (const Problem& problem) {
    if (problem.status >= 500) throw;
    WriteProblem(res, problem.status, problem.detail);
  }
  ticket.Finish({res.status, res.get_header_value("Content-Type"), res.body}, Now());
}

void Api::Identify(const httplib::Response& res, const std::string& caller) {
  std::lock_guard lock(callersMutex_);
  callers_[&res] = caller;
}

std::string Api::Forget(const httplib::Response& res) {
  std::lock_guard lock(callersMutex_);
  const auto at = callers_.find(&res);
  if (at == callers_.end()) return "-";
  std::string caller = std::move(at->second);
  callers_.erase(at);
  return caller.empty() ? "-" : caller;
}

httplib::Server::Handler Api::Guard(Role role, Handler handler) {
  return [this, role, handler](const httplib::Request& req, httplib::Response& res) {
    try {
      const auto caller = authenticator_.Find(req.get_header_value("Authorization"));
      if (!caller) {
        res.set_header("WWW-Authenticate", "Bearer");
        throw Problem{401, "a valid bearer token is needed"};
      }
      Identify(res, caller->name);
      if (caller->role < role) throw Problem{403, "the token's role is too low for this route"};
      if ((req.method == "POST" || req.method == "PUT") && req.has_header(kIdempotencyKey)) {
        return Idempotent(req, res, *caller, handler);
      }
      handler(req, res, *caller);
    } catch (const Problem& problem) {
      WriteProblem(res, problem.status, problem.detail);
    } catch (const std::exception& error) {
      WriteProblem(res, StatusFor(error), DetailFor(error));
    }
  };
}

httplib::Server::HandlerWithContentReader Api::GuardBody(Role role, Handler handler) {
  return [guarded = Guard(role, std::move(handler))](const httplib::Request& req,
                                                     httplib::Response& res,
                                                     const httplib::ContentReader& reader) {
    // A multipart body would need the reader's form callbacks: not JSON anyway.
    if (req.is_multipart_form_data()) return WriteProblem(res, 400, "the body must be JSON");
    httplib::Request whole = req;
    const auto deadline = std::chrono::steady_clock::now() + kBodyTime;
    bool late = false;
    const bool read = reader([&](const char* data, std::size_t length) {
      late = std::chrono::steady_clock::now() > deadline;
      if (!late) whole.body.append(data, length);
      return !late;
    });
    if (res.status == 413) return WriteProblem(res, 413, "the body is over 64 KiB");
    if (late) return WriteProblem(res, 408, "the body did not arrive within 30 s");
    if (!read) return WriteProblem(res, 400, "the body could not be read");
    guarded(whole, res);
  };
}

void Api::Register(httplib::Server& server) {
  server.set_payload_max_length(kMaxBody);
  // Each read waits at most this long: headers cannot dawdle.
  server.set_read_timeout(kHeaderTime);
  server.set_write_timeout(kBodyTime);
  server.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };

  const auto plain = [this](void (Api::*member)(const httplib::Request&, httplib::Response&)) {
    return [this, member](const httplib::Request& req, httplib::Response& res, const Caller&) {
      (this->*member)(req, res);
    };
  };
  server.Get("/api/v1/health",
             [this](const httplib::Request& req, httplib::Response& res) { Health(req, res); });
  server.Get("/api/v1/openapi.json", Guard(Role::View, [](const auto&, auto& res, const auto&) {
               res.set_content(std::string(OpenApiDocument()), std::string(kJson));
             }));
  server.Get("/api/v1/dispensers", Guard(Role::View, plain(&Api::Dispensers)));
  server.Get(R"(/api/v1/dispensers/(\d+)/(\d+))", Guard(Role::View, plain(&Api::Dispenser)));
  server.Post(R"(/api/v1/dispensers/(\d+)/(\d+)/authorize)",
              GuardBody(Role::Operate, [this](const auto& req, auto& res, const Caller& caller) {
                Authorize(req, res, caller);
              }));
  server.Post(R"(/api/v1/dispensers/(\d+)/(\d+)/stop)", Guard(Role::Operate, plain(&Api::StopOne)));
  server.Post("/api/v1/stop", Guard(Role::Operate, plain(&Api::StopAll)));
  server.Get("/api/v1/prices", Guard(Role::View, plain(&Api::GetPrices)));
  server.Put("/api/v1/prices", GuardBody(Role::Admin, plain(&Api::PutPrices)));
  server.Get("/api/v1/fills", Guard(Role::View, plain(&Api::Fills)));
  server.Get(R"(/api/v1/fills/(\d+))", Guard(Role::View, plain(&Api::Fill)));
  server.Get(R"(/api/v1/dispensers/(\d+)/(\d+)/totals/(\d+))",
             Guard(Role::View, plain(&Api::Totals)));
  server.Get("/api/v1/events", Guard(Role::View, plain(&Api::Events)));
  server.Post(R"(/api/v1/fills/(\d+)/(lock|unlock|clear))",
              GuardBody(Role::Operate, [this](const auto& req, auto& res, const Caller& caller) {
                Settle(req, res, caller);
              }));
  server.Post("/api/v1/shifts/close",
              GuardBody(Role::Operate, [this](const auto& req, auto& res, const Caller& caller) {
                CloseShift(req, res, caller);
              }));
  server.Get("/api/v1/shifts", Guard(Role::View, plain(&Api::Shifts)));
  server.Get(R"(/api/v1/shifts/(\d+))", Guard(Role::View, plain(&Api::Shift)));
  server.Get("/api/v1/session",
             Guard(Role::View, [this](const auto&, auto& res, const Caller& caller) {
               WriteJson(res, SessionJson(station_.Session(caller.name, caller.role)));
             }));

  // The dashboard: only what is compiled in; no path reaches the file system.
  server.Get(".*", [](const httplib::Request& req, httplib::Response& res) {
    const web::Asset* asset = req.path.rfind("/api/", 0) == 0 ? nullptr : web::FindAsset(req.path);
    if (!asset) return WriteProblem(res, 404, "no such resource: " + req.path);
    res.set_content(std::string(asset->body), std::string(asset->contentType));
  });

  // Unknown routes, bodies over the limit: the same problem form.
  server.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
    if (!res.body.empty()) return;
    const std::string detail = res.status == 413   ? "the body is over 64 KiB"
                               : res.status == 404 ? "no such resource: " + req.path
                                                   : std::string(Title(res.status));
    WriteProblem(res, res.status, detail);
  });
  server.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
    audit_.Record(Forget(res), req.method, req.path, res.status);
  });
}

namespace {

void FindDispenser(Station& station, int channel, int dispenser) {
  if (!station.Has(channel, dispenser)) {
    throw Problem{404, "no dispenser " + std::to_string(channel) + "/" + std::to_string(dispenser)};
  }
}

}  // namespace

void Api::Health(const httplib::Request&, httplib::Response& res) {
  json lines = json::array();
  bool allUp = true;
  for (LineWorker* line : station_.Lines()) {
    allUp = allUp && line->Up();
    lines.push_back({{"channel", line->Channel()},
                     {"port", line->Port()},
                     {"up", line->Up()},
                     {"queued", line->Queued()}});
  }
  const std::string journal = station_.Journal().Problem();
  json body{{"status", allUp && journal.empty() ? "ok" : "degraded"}, {"lines", lines}};
  if (!journal.empty()) {
    // Money cannot be journaled: the service must not look healthy.
    body["database"] = journal;
    WriteJson(res, body);
    res.status = 503;
    return;
  }
  WriteJson(res, body);
}

void Api::Dispensers(const httplib::Request&, httplib::Response& res) {
  json all = json::array();
  for (const auto& view : station_.Views()) all.push_back(DispenserJson(view));
  WriteJson(res, all);
}

void Api::Dispenser(const httplib::Request& req, httplib::Response& res) {
  const int c = PathNumber(req, 1), d = PathNumber(req, 2);
  FindDispenser(station_, c, d);
  WriteJson(res, DispenserJson(station_.Line(c)->View(d)));
}

void Api::Authorize(const httplib::Request& req, httplib::Response& res, const Caller& caller) {
  const int c = PathNumber(req, 1), d = PathNumber(req, 2);
  FindDispenser(station_, c, d);
  const json body = ParseBody(req);
  OnlyKeys(body, {"grade", "volume", "amount"}, "the authorization");
  const int grade = IntegerField(body, "grade", 1, kLastGrade);
  if (body.contains("volume") && body.contains("amount")) {
    throw Problem{400, "give at most one of 'volume' or 'amount'"};
  }
  FillLimit limit;
  if (body.contains("volume"))
    limit = {FillLimit::Kind::Volume, MoneyField(body, "volume", kLowestLimit, kHighestLimit)};
  if (body.contains("amount"))
    limit = {FillLimit::Kind::Amount, MoneyField(body, "amount", kLowestLimit, kHighestLimit)};
  Answer(res, station_.Authorize(c, d, grade, limit, caller.name));
}

void Api::StopOne(const httplib::Request& req, httplib::Response& res) {
  const int c = PathNumber(req, 1), d = PathNumber(req, 2);
  FindDispenser(station_, c, d);
  Answer(res, station_.StopDispenser(c, d));
}

void Api::StopAll(const httplib::Request&, httplib::Response& res) {
  json results = json::array();
  for (const auto& result : station_.StopAll()) results.push_back(StopResultJson(result));
  WriteJson(res, {{"dispensers", results}});
}

void Api::GetPrices(const httplib::Request&, httplib::Response& res) {
  json book = json::array();
  for (const auto& entry : station_.Journal().Prices()) book.push_back(PriceJson(entry));
  WriteJson(res, book);
}

void Api::PutPrices(const httplib::Request& req, httplib::Response& res) {
  const json body = ParseBody(req);
  if (!body.is_array()) throw Problem{400, "the body must be a list of prices"};
  // The whole list is checked before anything is stored.
  std::vector<PriceEntry> entries;
  std::set<std::tuple<int, int, int>> seen;
  for (const json& item : body) {
    OnlyKeys(item, {"channel", "dispenser", "grade", "price"}, "a price");
    PriceEntry entry;
    entry.channel = IntegerField(item, "channel", 1, kLastChannel);
    entry.dispenser = IntegerField(item, "dispenser", 1, kLastDispenser);
    entry.grade = IntegerField(item, "grade", 1, kLastGrade);
    if (!item.contains("price")) throw Problem{400, "'price' is missing"};
    entry.price = MoneyField(item, "price", kLowestPrice, kHighestPrice);
    if (!station_.Has(entry.channel, entry.dispenser)) {
      throw Problem{400, "no dispenser " + std::to_string(entry.channel) + "/" +
                             std::to_string(entry.dispenser)};
    }
    if (!seen.insert({entry.channel, entry.dispenser, entry.grade}).second) {
      throw Problem{400, "a price is given twice"};
    }
    entries.push_back(entry);
  }
  json results = json::array();
  for (const auto& result : station_.ChangePrices(entries))
    results.push_back(PriceResultJson(result));
  WriteJson(res, {{"dispensers", results}});
}

void Api::Fills(const httplib::Request& req, httplib::Response& res) {
  const auto parsed = ParseFillQuery(req.params);
  if (const auto* error = std::get_if<FillQueryError>(&parsed)) throw Problem{400, error->detail};
  json fills = json::array();
  const Instant now = Now();
  for (const auto& fill : station_.Fills(std::get<FillQuery>(parsed))) {
    fills.push_back(FillJson(fill, now));
  }
  WriteJson(res, fills);
}

void Api::Fill(const httplib::Request& req, httplib::Response& res) {
  const auto fill = station_.Journal().Fill(PathNumber(req, 1));
  if (!fill) throw Problem{404, "no fill " + req.matches[1].str()};
  WriteJson(res, FillJson(*fill));
}

void Api::Totals(const httplib::Request& req, httplib::Response& res) {
  const int c = PathNumber(req, 1), d = PathNumber(req, 2), n = PathNumber(req, 3);
  FindDispenser(station_, c, d);
  if (n < 1 || n > kLastNozzle) throw Problem{400, "the nozzle must be 1..8"};
  Answer(res, station_.Totals(c, d, n));
}

void Api::Events(const httplib::Request& req, httplib::Response& res) {
  std::optional<std::int64_t> resumeAfter;
  if (req.has_header("Last-Event-ID")) {
    const std::string text = req.get_header_value("Last-Event-ID");
    std::int64_t id = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
    if (error == std::errc() && end == text.data() + text.size() && id >= 0) resumeAfter = id;
  }
  if (!streams_.Open(resumeAfter, res)) throw Problem{503, "too many event streams"};
}

namespace {

// A body that must be empty or an empty object.
void NoBody(const httplib::Request& req, std::string_view what) {
  if (req.body.empty()) return;
  OnlyKeys(ParseBody(req), {}, what);
}

std::int64_t PathId(const httplib::Request& req, std::size_t index) {
  const std::string& text = req.matches[static_cast<int>(index)].str();
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) {
    throw Problem{404, "no such resource: " + req.path};
  }
  return value;
}

}  // namespace

void Api::Settle(const httplib::Request& req, httplib::Response& res, const Caller& caller) {
  const std::int64_t id = PathId(req, 1);
  const std::string action = req.matches[2].str();
  Station::Settled settled;
  if (action == "clear") {
    std::optional<std::string> reference;
    if (!req.body.empty()) {
      const json body = ParseBody(req);
      OnlyKeys(body, {"reference"}, "the clear");
      if (body.contains("reference")) {
        const json& value = body.at("reference");
        if (!value.is_string() || !ValidReference(value.get<std::string>())) {
          throw Problem{400, "'reference' must be text of 1..64 characters"};
        }
        reference = value.get<std::string>();
      }
    }
    settled = station_.Clear(id, caller.name, reference);
  } else {
    NoBody(req, "the " + action);
    settled = action == "lock" ? station_.Lock(id, caller.name)
                               : station_.Unlock(id, caller.name, caller.role == Role::Admin);
  }
  if (!settled.fill) throw Problem{404, "no fill " + std::to_string(id)};
  if (settled.refusal) throw Problem{409, settled.detail};
  WriteJson(res, FillJson(*settled.fill));
}

void Api::CloseShift(const httplib::Request& req, httplib::Response& res, const Caller& caller) {
  NoBody(req, "the shift close");
  res.status = 200;
  res.set_content(station_.CloseShift(caller.name), std::string(kJson));
}

void Api::Shifts(const httplib::Request& req, httplib::Response& res) {
  for (const auto& [name, value] : req.params) {
    if (name != "after" && name != "limit") throw Problem{400, "unknown parameter '" + name + "'"};
  }
  const int after = QueryInteger(req, "after", 0, 0, std::numeric_limits<int>::max());
  const int limit = QueryInteger(req, "limit", kDefaultShifts, 1, kMaxShifts);
  json reports = json::array();
  for (const auto& report : station_.Journal().ClosedShifts(after, limit)) {
    reports.push_back(json::parse(report));
  }
  WriteJson(res, reports);
}

void Api::Shift(const httplib::Request& req, httplib::Response& res) {
  const std::int64_t id = PathId(req, 1);
  const auto report = station_.Journal().ClosedShift(id);
  if (!report) throw Problem{404, "no closed shift " + std::to_string(id)};
  if (req.get_header_value("Accept").find("text/csv") != std::string::npos) {
    res.status = 200;
    res.set_content(ShiftCsv(json::parse(*report)), std::string(kCsv));
    return;
  }
  res.status = 200;
  res.set_content(*report, std::string(kJson));
}

}  // namespace quorlan::station
