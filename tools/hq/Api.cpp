// SPDX-License-Identifier: Apache-2.0
#include "Api.h"

#include <cmath>
#include <random>
#include <set>

#include "Topics.h"

namespace quorlan::hq {

namespace {

constexpr int kMaximumChannel = 32;
constexpr int kMaximumDispenser = 32;
constexpr int kMaximumGrade = 8;
constexpr double kLowestPrice = 0.01;
constexpr double kHighestPrice = 99.99;
constexpr int kLongestPage = 1000;
constexpr int kDefaultPage = 100;

class BadRequest : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

std::string Title(int status) {
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
    case 503:
      return "Service Unavailable";
    default:
      return "Error";
  }
}

HttpResponse Json(const nlohmann::json& body, int status = 200) {
  return {status, "application/json", body.dump()};
}

bool ConstantTimeEquals(const std::string& a, const std::string& b) {
  const std::size_t length = std::max(a.size(), b.size());
  unsigned char difference = a.size() == b.size() ? 0 : 1;
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
    const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
    difference |= static_cast<unsigned char>(x ^ y);
  }
  return difference == 0;
}

int Integer(const std::string& name, const std::string& text, int lowest, int highest) {
  if (text.empty() || text.size() > 9 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    throw BadRequest(name + " must be a whole number");
  }
  const int value = std::stoi(text);
  if (value < lowest || value > highest) {
    throw BadRequest(name + " must be " + std::to_string(lowest) + ".." + std::to_string(highest));
  }
  return value;
}

void OnlyKnown(const HttpRequest& request, const std::set<std::string>& known) {
  for (const auto& [name, value] : request.query) {
    if (!known.contains(name)) throw BadRequest("unknown parameter " + name);
  }
}

std::optional<std::string> Station(const HttpRequest& request) {
  const auto found = request.query.find("station");
  if (found == request.query.end()) return std::nullopt;
  if (!fleet::ValidStationId(found->second)) throw BadRequest("bad station id");
  return found->second;
}

// RFC 3339 with an offset: a time without one is not guessed at.
std::string ZonedTime(const std::string& name, const std::string& text) {
  static const std::string digits = "0123456789";
  const bool shape = text.size() >= 20 && text[4] == '-' && text[7] == '-' &&
                     (text[10] == 'T' || text[10] == 't') && text[13] == ':' && text[16] == ':';
  const bool zoned =
      !text.empty() &&
      (text.back() == 'Z' || text.back() == 'z' ||
       (text.size() > 6 && (text[text.size() - 6] == '+' || text[text.size() - 6] == '-')));
  if (!shape || !zoned) throw BadRequest(name + " must be RFC 3339 with an offset");
  return text;
}

std::string Day(const std::string& name, const std::string& text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') {
    throw BadRequest(name + " must be YYYY-MM-DD");
  }
  Integer(name, text.substr(0, 4), 1970, 9999);
  Integer(name, text.substr(5, 2), 1, 12);
  Integer(name, text.substr(8, 2), 1, 31);
  return text;
}

nlohmann::json ValidPrices(const nlohmann::json& prices) {
  if (!prices.is_array() || prices.empty()) throw BadRequest("prices must be a non-empty list");
  static const std::set<std::string> fields{"channel", "dispenser", "grade", "price"};
  for (const auto& entry : prices) {
    if (!entry.is_object()) throw BadRequest("each price must be an object");
    for (const auto& [key, value] : entry.items()) {
      if (!fields.contains(key)) throw BadRequest("unknown field " + key);
    }
    const auto whole = [&](const char* key, int highest) {
      if (!entry.contains(key) || !entry[key].is_number_integer() || entry[key].get<int>() < 1 ||
          entry[key].get<int>() > highest) {
        throw BadRequest(std::string(key) + " must be 1.." + std::to_string(highest));
      }
    };
    whole("channel", kMaximumChannel);
    whole("dispenser", kMaximumDispenser);
    whole("grade", kMaximumGrade);
    if (!entry.contains("price") || !entry["price"].is_number()) {
      throw BadRequest("price must be a number");
    }
    const double price = entry["price"].get<double>();
    const double cents = price * 100;
    if (price < kLowestPrice || price > kHighestPrice ||
        std::fabs(cents - std::round(cents)) > 1e-6) {
      throw BadRequest("price must be 0.01..99.99 with at most two decimals");
    }
  }
  return prices;
}

std::string NewCommandId() {
  std::random_device random;
  char text[33];
  std::snprintf(text, sizeof text, "%08x%08x%08x%08x", random(), random(), random(), random());
  return text;
}

}  // namespace

HttpResponse Problem(int status, const std::string& detail) {
  const nlohmann::json body{
      {"type", "about:blank"}, {"title", Title(status)}, {"status", status}, {"detail", detail}};
  return {status, "application/problem+json", body.dump()};
}

const Token* Api::Find(const std::string& authorization) const {
  constexpr std::string_view kBearer = "Bearer ";
  if (!authorization.starts_with(kBearer)) return nullptr;
  const std::string secret = authorization.substr(kBearer.size());
  const Token* found = nullptr;
  for (const auto& token : tokens_) {
    if (ConstantTimeEquals(secret, token.secret)) found = &token;
  }
  return found;
}

HttpResponse Api::Handle(const HttpRequest& request) {
  if (request.path == "/api/v1/health") {
    if (request.method != "GET") return Problem(405, "GET only");
    bool database = true;
    try {
      const std::lock_guard lock(journalMutex_);
      journal_.StationIds();
    } catch (const std::exception&) {
      database = false;
    }
    const bool broker = brokerUp_();
    return Json({{"status", database && broker ? "ok" : "degraded"},
                 {"database", database},
                 {"broker", broker}},
                database && broker ? 200 : 503);
  }
  const Token* caller = Find(request.authorization);
  if (!caller) return Problem(401, "a valid Bearer token is required");
  try {
    return Route(request, *caller);
  } catch (const BadRequest& bad) {
    return Problem(400, bad.what());
  } catch (const JournalError&) {
    return Problem(503, "the journal database is not reachable");
  } catch (const std::exception&) {
    return Problem(503, "the journal database failed");
  }
}

HttpResponse Api::Route(const HttpRequest& request, const Token& caller) {
  const auto& path = request.path;
  const bool get = request.method == "GET";
  if (path == "/api/v1/stations") {
    if (!get) return Problem(405, "GET only");
    OnlyKnown(request, {});
    const std::lock_guard lock(journalMutex_);
    return Json(journal_.Stations());
  }
  if (path == "/api/v1/fills") {
    if (!get) return Problem(405, "GET only");
    return Fills(request);
  }
  if (path == "/api/v1/totals/days") {
    if (!get) return Problem(405, "GET only");
    return DayTotals(request);
  }
  if (path == "/api/v1/shifts") {
    if (!get) return Problem(405, "GET only");
    OnlyKnown(request, {"station"});
    const auto station = Station(request);
    const std::lock_guard lock(journalMutex_);
    return Json(journal_.Shifts(station));
  }
  if (path == "/api/v1/prices") {
    if (request.method != "POST") return Problem(405, "POST only");
    if (caller.role != Role::Admin) return Problem(403, "the admin role is required");
    return PushPrices(request, caller);
  }
  constexpr std::string_view kCommand = "/api/v1/prices/";
  if (path.starts_with(kCommand)) {
    if (!get) return Problem(405, "GET only");
    const std::string id = path.substr(kCommand.size());
    const std::lock_guard lock(journalMutex_);
    auto outcomes = journal_.CommandOutcomes(id);
    if (outcomes.is_null()) return Problem(404, "no such command");
    return Json(outcomes);
  }
  return Problem(404, "no such route");
}

HttpResponse Api::Fills(const HttpRequest& request) {
  OnlyKnown(request,
            {"station", "after", "limit", "channel", "dispenser", "grade", "status", "from", "to"});
  FillFilter filter;
  filter.station = Station(request);
  const auto& query = request.query;
  const auto value = [&](const char* name) -> const std::string* {
    const auto found = query.find(name);
    return found == query.end() ? nullptr : &found->second;
  };
  if (const auto* after = value("after")) filter.after = Integer("after", *after, 0, 999999999);
  filter.limit = kDefaultPage;
  if (const auto* limit = value("limit")) filter.limit = Integer("limit", *limit, 1, kLongestPage);
  if (const auto* channel = value("channel")) {
    filter.channel = Integer("channel", *channel, 1, kMaximumChannel);
  }
  if (const auto* dispenser = value("dispenser")) {
    filter.dispenser = Integer("dispenser", *dispenser, 1, kMaximumDispenser);
  }
  if (const auto* grade = value("grade")) filter.grade = Integer("grade", *grade, 1, kMaximumGrade);
  if (const auto* status = value("status")) {
    static const std::set<std::string> statuses{"completed", "cancelled", "open", "all"};
    if (!statuses.contains(*status))
      throw BadRequest("status must be completed, cancelled, open or all");
    filter.status = *status;
  }
  if (const auto* from = value("from")) filter.from = ZonedTime("from", *from);
  if (const auto* to = value("to")) filter.to = ZonedTime("to", *to);
  const std::lock_guard lock(journalMutex_);
  return Json(journal_.Fills(filter));
}

HttpResponse Api::DayTotals(const HttpRequest& request) {
  OnlyKnown(request, {"station", "from", "to"});
  const auto station = Station(request);
  const auto from = request.query.find("from");
  const auto to = request.query.find("to");
  if (from == request.query.end() || to == request.query.end()) {
    throw BadRequest("from and to (YYYY-MM-DD) are required");
  }
  const auto first = Day("from", from->second);
  const auto last = Day("to", to->second);
  const std::lock_guard lock(journalMutex_);
  return Json(journal_.DayTotals(station, first, last));
}

HttpResponse Api::PushPrices(const HttpRequest& request, const Token& caller) {
  const auto body = nlohmann::json::parse(request.body, nullptr, false);
  if (!body.is_object()) throw BadRequest("the body must be a JSON object");
  for (const auto& [key, value] : body.items()) {
    if (key != "stations" && key != "prices" && key != "command_id") {
      throw BadRequest("unknown field " + key);
    }
  }
  const auto prices = ValidPrices(body.value("prices", nlohmann::json()));
  std::vector<std::string> stations;
  const auto& named = body.value("stations", nlohmann::json());
  if (named == "all") {
    const std::lock_guard lock(journalMutex_);
    stations = journal_.StationIds();
  } else if (named.is_array() && !named.empty()) {
    for (const auto& station : named) {
      if (!station.is_string() || !fleet::ValidStationId(station.get<std::string>())) {
        throw BadRequest("stations must be \"all\" or a list of station ids");
      }
      stations.push_back(station.get<std::string>());
    }
  } else {
    throw BadRequest("stations must be \"all\" or a list of station ids");
  }
  std::string commandId = NewCommandId();
  if (body.contains("command_id")) {
    const auto& id = body["command_id"];
    if (!id.is_string() || id.get<std::string>().empty() || id.get<std::string>().size() > 64) {
      throw BadRequest("command_id must be 1..64 characters");
    }
    commandId = id.get<std::string>();
  }
  {
    const std::lock_guard lock(journalMutex_);
    journal_.RecordCommand(commandId, caller.name, stations, prices);
  }
  const nlohmann::json command{
      {"schema", fleet::kSchemaVersion}, {"command_id", commandId}, {"prices", prices}};
  for (const auto& station : stations) {
    if (!send_(station, command.dump())) {
      return Problem(503, "the broker is not reachable; repeat with command_id " + commandId);
    }
  }
  return Json({{"command_id", commandId}, {"stations", stations}}, 202);
}

}  // namespace quorlan::hq
