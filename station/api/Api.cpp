#include "station/api/Api.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <map>
#include <optional>
#include <set>

#include "station/PriceList.h"
#include "station/api/Failure.h"
#include "station/base/Instant.h"
#include "station/base/Log.h"
#include "station/base/LogText.h"
#include "station/format/JsonInput.h"
#include "station/format/JsonViews.h"
#include "station/format/ShiftCsv.h"
#include "station/metrics/Metrics.h"
#include "station/model/FillQuery.h"
#include "station/web/Assets.h"

namespace quorlan::station {

namespace {

using nlohmann::json;

constexpr std::string_view kJson = "application/json";
constexpr std::string_view kProblemJson = "application/problem+json";
constexpr std::string_view kCsv = "text/csv; charset=utf-8";
constexpr std::string_view kMetricsPath = "/metrics";
constexpr std::string_view kMetricsText = "text/plain; version=0.0.4; charset=utf-8";
constexpr std::string_view kIdempotencyKey = "Idempotency-Key";
constexpr std::string_view kAuthorizeRoute = "/api/v1/dispensers/{c}/{d}/authorize";
constexpr int kDefaultShifts = 100;
constexpr int kMaxShifts = 1000;

using Parameters = std::multimap<std::string, std::string>;

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
    case 405:
      return "Method Not Allowed";
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

// API answers are never stored by a browser or a proxy.
const http::Headers kApiHeaders{{"Cache-Control", "no-store"}};

void WriteBody(http::Answer& answer, unsigned status, std::string_view contentType,
               std::string body, http::Headers headers = kApiHeaders) {
  headers.emplace_back("Content-Type", std::string(contentType));
  answer.Respond(status, std::move(headers), std::move(body));
}

void WriteProblem(http::Answer& answer, int status, const std::string& detail,
                  http::Headers headers = kApiHeaders) {
  const json body{
      {"type", "about:blank"}, {"title", Title(status)}, {"status", status}, {"detail", detail}};
  // The detail may quote a client's bytes, which need not be UTF-8.
  WriteBody(answer, static_cast<unsigned>(status), kProblemJson,
            body.dump(-1, ' ', false, json::error_handler_t::replace), std::move(headers));
}

void WriteJson(http::Answer& answer, const json& body, unsigned status = 200) {
  WriteBody(answer, status, kJson, body.dump());
}

template <typename Integer>
std::optional<Integer> Whole(std::string_view text) {
  Integer value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// A path id; anything beyond its type names nothing.
template <typename Integer = int>
Integer PathNumber(const Api::Call& call, std::size_t index) {
  const auto value = Whole<Integer>(call.captures.at(index - 1));
  if (!value) throw Problem{404, "no such resource: " + call.request.path};
  return *value;
}

json ParseBody(const Api::Call& call) {
  return ParseRequestBody(call.request.body);
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

// A body that must be empty or an empty object.
void NoBody(const Api::Call& call, std::string_view what) {
  if (call.request.body.empty()) return;
  OnlyKeys(ParseBody(call), {}, what);
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

// A query string's parameters, percent-decoded, '+' read as a space.
Parameters QueryParameters(std::string_view query) {
  const auto decode = [](std::string_view raw) {
    std::string value;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      unsigned byte = 0;
      if (raw[i] == '%' && i + 2 < raw.size() &&
          std::from_chars(raw.data() + i + 1, raw.data() + i + 3, byte, 16).ptr ==
              raw.data() + i + 3) {
        value += static_cast<char>(byte);
        i += 2;
      } else {
        value += raw[i] == '+' ? ' ' : raw[i];
      }
    }
    return value;
  };
  Parameters parameters;
  while (!query.empty()) {
    const auto end = std::min(query.find('&'), query.size());
    const std::string_view pair = query.substr(0, end);
    query.remove_prefix(std::min(end + 1, query.size()));
    if (pair.empty()) continue;
    const auto equals = std::min(pair.find('='), pair.size());
    parameters.emplace(decode(pair.substr(0, equals)),
                       decode(pair.substr(std::min(equals + 1, pair.size()))));
  }
  return parameters;
}

int QueryInteger(const Parameters& parameters, const char* key, int fallback, int low, int high) {
  const auto found = parameters.find(key);
  if (found == parameters.end()) return fallback;
  const auto value = Whole<int>(found->second);
  if (!value || *value < low || *value > high) {
    throw Problem{400, std::string("'") + key + "' must be an integer " + std::to_string(low) +
                           ".." + std::to_string(high)};
  }
  return *value;
}

void Reply(http::Answer& answer, const CommandResult& result) {
  switch (result.outcome) {
    case Outcome::Done:
      return WriteJson(answer, PayloadJson(result.body));
    case Outcome::Refused:
      throw Problem{409, result.detail};
    case Outcome::NoAck:
      throw Problem{502, result.detail};
    case Outcome::LineDown:
    case Outcome::Unavailable:
      throw Problem{503, result.detail};
  }
}

void FindDispenser(Station& station, int channel, int dispenser) {
  if (!station.Has(channel, dispenser)) {
    throw Problem{404, "no dispenser " + std::to_string(channel) + "/" + std::to_string(dispenser)};
  }
}

}  // namespace

Api::Api(Station& station, const Authenticator& authenticator, AuditLog& audit)
    : station_(station),
      authenticator_(authenticator),
      audit_(audit),
      streams_(station),
      idempotency_(station.Journal().answers) {
  const auto add = [this](std::string method, std::string pattern, std::string label, Role role,
                          void (Api::*member)(const Call&, http::Answer&)) {
    routes_.push_back({std::move(method), std::regex(pattern), std::move(label), role,
                       [member](Api& api, const Call& call, http::Answer& answer) {
                         (api.*member)(call, answer);
                       }});
  };
  const std::string dispenser = R"(/api/v1/dispensers/(\d+)/(\d+))";
  routes_.push_back({"GET", std::regex("/api/v1/openapi.json"), "/api/v1/openapi.json", Role::View,
                     [](Api&, const Call&, http::Answer& answer) {
                       WriteBody(answer, 200, kJson, std::string(OpenApiDocument()));
                     }});
  add("GET", "/api/v1/session", "/api/v1/session", Role::View, &Api::Session);
  add("GET", "/api/v1/dispensers", "/api/v1/dispensers", Role::View, &Api::Dispensers);
  add("GET", dispenser, "/api/v1/dispensers/{c}/{d}", Role::View, &Api::Dispenser);
  add("POST", dispenser + "/authorize", std::string(kAuthorizeRoute), Role::Operate,
      &Api::Authorize);
  add("POST", dispenser + "/stop", "/api/v1/dispensers/{c}/{d}/stop", Role::Operate, &Api::StopOne);
  add("POST", "/api/v1/stop", "/api/v1/stop", Role::Operate, &Api::StopAll);
  add("GET", "/api/v1/prices", "/api/v1/prices", Role::View, &Api::GetPrices);
  add("PUT", "/api/v1/prices", "/api/v1/prices", Role::Admin, &Api::PutPrices);
  add("GET", "/api/v1/fills", "/api/v1/fills", Role::View, &Api::Fills);
  add("GET", R"(/api/v1/fills/(\d+))", "/api/v1/fills/{id}", Role::View, &Api::Fill);
  for (const std::string action : {"lock", "unlock", "clear"}) {
    add("POST", R"(/api/v1/fills/(\d+)/()" + action + ")", "/api/v1/fills/{id}/" + action,
        Role::Operate, &Api::Settle);
  }
  add("GET", dispenser + R"(/totals/(\d+))", "/api/v1/dispensers/{c}/{d}/totals/{n}", Role::View,
      &Api::Totals);
  add("GET", "/api/v1/events", "/api/v1/events", Role::View, &Api::Events);
  add("POST", "/api/v1/shifts/close", "/api/v1/shifts/close", Role::Operate, &Api::CloseShift);
  add("GET", "/api/v1/shifts", "/api/v1/shifts", Role::View, &Api::Shifts);
  add("GET", R"(/api/v1/shifts/(\d+))", "/api/v1/shifts/{id}", Role::View, &Api::Shift);
  add("GET", std::string(kMetricsPath), std::string(kMetricsPath), Role::View, &Api::Scrape);
}

void Api::Route(const http::Request& request, http::Answer& answer) {
  std::string who = "-";
  try {
    Serve(request, answer, who);
  } catch (const Problem& problem) {
    http::Headers headers = kApiHeaders;
    if (problem.status == 401) headers.emplace_back("WWW-Authenticate", "Bearer");
    WriteProblem(answer, problem.status, problem.detail, std::move(headers));
  } catch (const std::exception& error) {
    WriteProblem(answer, StatusFor(error), DetailFor(error));
  }
  const unsigned status = answer.Given() ? answer.Given()->status : answer.Opened() ? 200 : 404;
  audit_.Record(who, request.method, request.path, static_cast<int>(status));
}

void Api::Serve(const http::Request& request, http::Answer& answer, std::string& who) {
  const bool api = request.path.rfind("/api/", 0) == 0 || request.path == kMetricsPath;
  if (!api) {
    // The dashboard: only what is compiled in; no path reaches the file system.
    answer.SetRoute("page");
    if (request.method != "GET" && request.method != "HEAD") return answer.NotAllowed({"GET"});
    const web::Asset* asset = web::FindAsset(request.path);
    if (!asset) throw Problem{404, "no such resource: " + request.path};
    // Scripts and styles come from the service's own files only, and no
    // other site may frame the page.
    answer.Respond(200,
                   {{"Content-Type", std::string(asset->contentType)},
                    {"Content-Security-Policy",
                     "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' "
                     "data:; connect-src 'self'; object-src 'none'; base-uri 'none'; "
                     "form-action 'self'; frame-ancestors 'none'"}},
                   std::string(asset->body));
    return;
  }
  if (request.path == "/api/v1/health" && request.method == "GET") {
    answer.SetRoute("/api/v1/health");
    return Health(answer);
  }
  // Nothing is told to a caller without a valid token, not even which paths exist.
  const auto caller = authenticator_.Find(request.Header("Authorization"));
  if (!caller) throw Problem{401, "a valid bearer token is needed"};
  who = caller->name.empty() ? "-" : caller->name;

  std::vector<std::string> allowed;
  for (const Entry& entry : routes_) {
    std::smatch match;
    if (!std::regex_match(request.path, match, entry.path)) continue;
    if (entry.method != request.method) {
      allowed.push_back(entry.method);
      continue;
    }
    answer.SetRoute(entry.label);
    if (caller->role < entry.role) throw Problem{403, "the token's role is too low for this route"};
    Call call{request, {}, *caller, std::nullopt};
    for (std::size_t i = 1; i < match.size(); ++i) call.captures.push_back(match[i].str());
    // An empty key is a mistake, not the absence of one.
    if ((request.method == "POST" || request.method == "PUT") && request.Has(kIdempotencyKey)) {
      return Idempotent(entry, call, answer);
    }
    return entry.handler(*this, call, answer);
  }
  if (request.path == "/api/v1/health") allowed.push_back("GET");
  if (!allowed.empty()) {
    answer.SetRoute("unrouted");
    std::string allow;
    for (const std::string& method : allowed) allow += (allow.empty() ? "" : ", ") + method;
    http::Headers headers = kApiHeaders;
    headers.emplace_back("Allow", allow);
    return WriteProblem(answer, 405, "this path does not take " + request.method, headers);
  }
  throw Problem{404, "no such resource: " + request.path};
}

void Api::Idempotent(const Entry& entry, const Call& call, http::Answer& answer) {
  const http::Request& request = call.request;
  const std::string key(request.Header(kIdempotencyKey));
  if (!ValidIdempotencyKey(key)) {
    throw Problem{400, "'Idempotency-Key' must be 1..64 visible ASCII characters"};
  }
  const IdempotencyScope scope{call.caller.name, request.method, request.path, key};
  const std::string hash = BodyHash(request.body);
  const Idempotency::Decision decision = idempotency_.Begin(scope, hash, Now());
  const Call keyed{request, call.captures, call.caller, RequestId(scope)};
  switch (decision.verdict) {
    case Idempotency::Verdict::Replay:
      return WriteBody(answer, static_cast<unsigned>(decision.answer.status),
                       decision.answer.contentType, decision.answer.body);
    case Idempotency::Verdict::OtherBody:
      throw Problem{422, "this Idempotency-Key was used with another body on this route"};
    case Idempotency::Verdict::Interrupted: {
      // An authorization's journal row tells whether it went out; nothing
      // tells that of the other commands.
      if (entry.label != kAuthorizeRoute) {
        throw Problem{409,
                      "the first request with this Idempotency-Key ended without its answer "
                      "being kept (a restart cut it off, or the database refused it): look up "
                      "its outcome before sending another"};
      }
      const auto settled = Kept(answer, [&] { AuthorizationOutcome(keyed, answer); });
      if (settled) KeepQuietly(scope, [&] { idempotency_.Settle(scope, hash, *settled, Now()); });
      return;
    }
    case Idempotency::Verdict::Run:
      break;
  }
  IdempotencyTicket ticket(idempotency_, scope, hash);
  std::optional<StoredAnswer> first;
  try {
    first = Kept(answer, [&] { entry.handler(*this, keyed, answer); });
  } catch (...) {
    // An authorization whose journal row stands may have reached the
    // dispenser (its reply was lost): a repeat must learn that, not send it
    // again.
    if (entry.label == kAuthorizeRoute && station_.Journal().fills.OfRequest(*keyed.requestId)) {
      ticket.Keep();
    }
    throw;
  }
  // An answer that could not be kept is given all the same: the key stays
  // taken, and a repeat learns the outcome as after a restart.
  if (first) KeepQuietly(scope, [&] { ticket.Finish(*first, Now()); });
}

std::optional<StoredAnswer> Api::Kept(http::Answer& answer, const std::function<void()>& work) {
  // Refusals are answers too, and kept; a failure of the service is not,
  // and a repeat runs again.
  try {
    work();
  } catch (const Problem& problem) {
    if (problem.status >= 500) throw;
    WriteProblem(answer, problem.status, problem.detail);
  }
  const auto& given = answer.Given();
  if (!given) return std::nullopt;
  return StoredAnswer{static_cast<int>(given->status),
                      std::string(http::FindHeader(given->headers, "Content-Type")), given->body};
}

void Api::KeepQuietly(const IdempotencyScope& scope, const std::function<void()>& keep) {
  try {
    keep();
  } catch (const std::exception& error) {
    Log("the answer to Idempotency-Key {} of {} could not be kept: {}", LogText(scope.key),
        LogText(scope.token), error.what());
  }
}

void Api::Health(http::Answer& answer) {
  const auto now = std::chrono::steady_clock::now();
  const auto patience = station_.Config().unansweredAfter;
  json lines = json::array();
  json dispensers = json::array();
  bool allUp = true;
  for (LineWorker* line : station_.Lines()) {
    allUp = allUp && line->Up();
    lines.push_back({{"channel", line->Channel()},
                     {"port", line->Port()},
                     {"up", line->Up()},
                     {"queued", line->Queued()}});
    for (const DispenserView& view : line->Views()) {
      // A dispenser that has stopped answering is as unhealthy as a line
      // that is down; a failed exchange now and then is not.
      allUp = allUp && (view.link == Link::Ok || now - view.answeredAt < patience);
      dispensers.push_back({{"channel", view.channel},
                            {"dispenser", view.dispenser},
                            {"link", std::string(LinkName(view.link))}});
    }
  }
  const std::string journal = station_.Journal().database.Problem();
  const bool healthy = allUp && journal.empty();
  json body{{"status", healthy ? "ok" : "degraded"}, {"lines", lines}, {"dispensers", dispensers}};
  // Money that cannot be journaled: the service must not look healthy.
  if (!journal.empty()) body["database"] = journal;
  WriteJson(answer, body, healthy ? 200 : 503);
}

void Api::Session(const Call& call, http::Answer& answer) {
  WriteJson(answer, SessionJson(station_.Session(call.caller.name, call.caller.role)));
}

void Api::Dispensers(const Call&, http::Answer& answer) {
  json all = json::array();
  for (const auto& view : station_.Views()) all.push_back(DispenserJson(view));
  WriteJson(answer, all);
}

void Api::Dispenser(const Call& call, http::Answer& answer) {
  const int c = PathNumber(call, 1), d = PathNumber(call, 2);
  FindDispenser(station_, c, d);
  WriteJson(answer, DispenserJson(station_.Line(c)->View(d)));
}

void Api::Authorize(const Call& call, http::Answer& answer) {
  const int c = PathNumber(call, 1), d = PathNumber(call, 2);
  FindDispenser(station_, c, d);
  const json body = ParseBody(call);
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
  Reply(answer, station_.Authorize(c, d, grade, limit, call.caller.name, call.requestId));
}

void Api::AuthorizationOutcome(const Call& call, http::Answer& answer) {
  const int c = PathNumber(call, 1), d = PathNumber(call, 2);
  FindDispenser(station_, c, d);
  Reply(answer, station_.AuthorizationOutcome(c, d, *call.requestId));
}

void Api::StopOne(const Call& call, http::Answer& answer) {
  const int c = PathNumber(call, 1), d = PathNumber(call, 2);
  FindDispenser(station_, c, d);
  Reply(answer, station_.StopDispenser(c, d));
}

void Api::StopAll(const Call&, http::Answer& answer) {
  json results = json::array();
  for (const auto& result : station_.StopAll()) results.push_back(StopResultJson(result));
  WriteJson(answer, {{"dispensers", results}});
}

void Api::GetPrices(const Call&, http::Answer& answer) {
  json book = json::array();
  for (const auto& entry : station_.Journal().prices.All()) book.push_back(PriceJson(entry));
  WriteJson(answer, book);
}

void Api::PutPrices(const Call& call, http::Answer& answer) {
  const json body = ParseBody(call);
  if (!body.is_array()) throw Problem{400, "the body must be a list of prices"};
  // The whole list is checked before anything is stored.
  std::vector<PriceEntry> entries;
  try {
    entries = ReadPriceList(body, [this](int c, int d) { return station_.Has(c, d); });
  } catch (const PriceListError& error) {
    throw Problem{400, error.what()};
  }
  json results = json::array();
  for (const auto& result : station_.ChangePrices(entries))
    results.push_back(PriceResultJson(result));
  WriteJson(answer, {{"dispensers", results}});
}

void Api::Fills(const Call& call, http::Answer& answer) {
  const auto parsed = ParseFillQuery(QueryParameters(call.request.query));
  if (const auto* error = std::get_if<FillQueryError>(&parsed)) throw Problem{400, error->detail};
  json fills = json::array();
  const Instant now = Now();
  for (const auto& fill : station_.Fills(std::get<FillQuery>(parsed))) {
    fills.push_back(FillJson(fill, now));
  }
  WriteJson(answer, fills);
}

void Api::Fill(const Call& call, http::Answer& answer) {
  const auto fill = station_.Journal().fills.Shown(PathNumber<std::int64_t>(call, 1));
  if (!fill) throw Problem{404, "no fill " + call.captures.at(0)};
  WriteJson(answer, FillJson(*fill));
}

void Api::Settle(const Call& call, http::Answer& answer) {
  const auto id = PathNumber<std::int64_t>(call, 1);
  const std::string& action = call.captures.at(1);
  Station::Settled settled;
  if (action == "clear") {
    std::optional<std::string> reference;
    if (!call.request.body.empty()) {
      const json body = ParseBody(call);
      OnlyKeys(body, {"reference"}, "the clear");
      if (body.contains("reference")) {
        const json& value = body.at("reference");
        if (!value.is_string() || !ValidReference(value.get<std::string>())) {
          throw Problem{400, "'reference' must be text of 1..64 characters"};
        }
        reference = value.get<std::string>();
      }
    }
    settled = station_.Clear(id, call.caller.name, reference);
  } else {
    NoBody(call, "the " + action);
    settled = action == "lock"
                  ? station_.Lock(id, call.caller.name)
                  : station_.Unlock(id, call.caller.name, call.caller.role == Role::Admin);
  }
  if (!settled.fill) throw Problem{404, "no fill " + std::to_string(id)};
  if (settled.refusal) throw Problem{409, settled.detail};
  WriteJson(answer, FillJson(*settled.fill));
}

void Api::Totals(const Call& call, http::Answer& answer) {
  const int c = PathNumber(call, 1), d = PathNumber(call, 2), n = PathNumber(call, 3);
  FindDispenser(station_, c, d);
  if (n < 1 || n > kLastNozzle)
    throw Problem{400, "the nozzle must be 1.." + std::to_string(kLastNozzle)};
  Reply(answer, station_.Totals(c, d, n));
}

void Api::Events(const Call& call, http::Answer& answer) {
  std::optional<std::int64_t> resumeAfter;
  if (const auto id = Whole<std::int64_t>(call.request.Header("Last-Event-ID")); id && *id >= 0) {
    resumeAfter = *id;
  }
  // The caller's name owns the stream, so that withdrawing its token closes it.
  auto stream = answer.Stream({{"Content-Type", "text/event-stream"},
                               {"Cache-Control", "no-store"},
                               {"X-Accel-Buffering", "no"}},
                              call.caller.name);
  if (stream) streams_.Add(std::move(stream), resumeAfter);
}

void Api::Scrape(const Call&, http::Answer& answer) {
  std::vector<LineUp> lines;
  for (LineWorker* line : station_.Lines()) {
    LineUp& up = lines.emplace_back(LineUp{line->Channel(), line->Up(), {}});
    for (const DispenserView& view : line->Views()) up.dispensers.push_back(view.dispenser);
  }
  WriteBody(answer, 200, kMetricsText, MetricsText(ServiceMetrics(), lines));
}

void Api::CloseShift(const Call& call, http::Answer& answer) {
  NoBody(call, "the shift close");
  WriteBody(answer, 200, kJson, station_.CloseShift(call.caller.name));
}

void Api::Shifts(const Call& call, http::Answer& answer) {
  const Parameters parameters = QueryParameters(call.request.query);
  for (const auto& [name, value] : parameters) {
    if (name != "after" && name != "limit") throw Problem{400, "unknown parameter '" + name + "'"};
  }
  const int after = QueryInteger(parameters, "after", 0, 0, std::numeric_limits<int>::max());
  const int limit = QueryInteger(parameters, "limit", kDefaultShifts, 1, kMaxShifts);
  json reports = json::array();
  for (const auto& report : station_.Journal().shifts.Closed(after, limit)) {
    reports.push_back(json::parse(report));
  }
  WriteJson(answer, reports);
}

void Api::Shift(const Call& call, http::Answer& answer) {
  const auto id = PathNumber<std::int64_t>(call, 1);
  const auto report = station_.Journal().shifts.ClosedOne(id);
  if (!report) throw Problem{404, "no closed shift " + std::to_string(id)};
  if (call.request.Header("Accept").find("text/csv") != std::string_view::npos) {
    return WriteBody(answer, 200, kCsv, ShiftCsv(json::parse(*report)));
  }
  WriteBody(answer, 200, kJson, *report);
}

}  // namespace quorlan::station
