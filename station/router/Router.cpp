// SPDX-License-Identifier: Apache-2.0
#include "station/router/Router.h"

#include <algorithm>

#include "station/base/Instant.h"
#include "station/base/Log.h"
#include "station/base/LogText.h"
#include "station/router/Failure.h"

namespace quorlan::station {

namespace {

constexpr std::string_view kIdempotencyKey = "Idempotency-Key";

// The caller named by a token; none for an open route's.
const Caller kNobody{};

}  // namespace

Router::Router(const Authenticator& authenticator, AuditLog& audit, IdempotencyStorage& answers)
    : authenticator_(authenticator), audit_(audit), idempotency_(answers) {}

void Router::Add(Route route) {
  std::regex path(route.pattern);
  routes_.push_back({std::move(route), std::move(path)});
}

bool Router::Urgent(const http::Request& request) const {
  return std::any_of(routes_.begin(), routes_.end(), [&](const Entry& entry) {
    return entry.route.urgent && entry.route.method == request.method &&
           std::regex_match(request.path, entry.path);
  });
}

void Router::Serve(const http::Request& request, http::Answer& answer) {
  std::string who = "-";
  try {
    Dispatch(request, answer, who);
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

void Router::Dispatch(const http::Request& request, http::Answer& answer, std::string& who) {
  const auto routed = [&](const Entry& entry) {
    return std::regex_match(request.path, entry.path);
  };
  const bool api =
      request.path.rfind("/api/", 0) == 0 || std::any_of(routes_.begin(), routes_.end(), routed);
  if (!api && page_) return page_(request, answer);
  // Open routes first: they need no token.
  for (const Entry& entry : routes_) {
    if (entry.route.role || entry.route.method != request.method || !routed(entry)) continue;
    answer.SetRoute(entry.route.label);
    return entry.route.handler({request, {}, kNobody}, answer);
  }
  // Nothing is told to a caller without a valid token, not even which paths exist.
  const auto caller = authenticator_.Find(request.Header("Authorization"));
  if (!caller) throw Problem{401, "a valid bearer token is needed"};
  who = caller->name.empty() ? "-" : caller->name;

  std::vector<std::string> allowed;
  for (const Entry& entry : routes_) {
    if (!entry.route.role) continue;
    std::smatch match;
    if (!std::regex_match(request.path, match, entry.path)) continue;
    if (entry.route.method != request.method) {
      allowed.push_back(entry.route.method);
      continue;
    }
    answer.SetRoute(entry.route.label);
    if (caller->role < *entry.route.role) {
      throw Problem{403, "the token's role is too low for this route"};
    }
    Call call{request, {}, *caller};
    for (std::size_t i = 1; i < match.size(); ++i) call.captures.push_back(match[i].str());
    // An empty key is a mistake, not the absence of one.
    if ((request.method == "POST" || request.method == "PUT") && request.Has(kIdempotencyKey)) {
      return Idempotent(entry, call, answer);
    }
    return entry.route.handler(call, answer);
  }
  for (const Entry& entry : routes_) {
    if (!entry.route.role && routed(entry)) allowed.push_back(entry.route.method);
  }
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

void Router::Idempotent(const Entry& entry, const Call& call, http::Answer& answer) {
  const http::Request& request = call.request;
  const std::string key(request.Header(kIdempotencyKey));
  if (!ValidIdempotencyKey(key)) {
    throw Problem{400, "'Idempotency-Key' must be 1..64 visible ASCII characters"};
  }
  const IdempotencyScope scope{call.caller.name, request.method, request.path, key};
  const std::string hash = BodyHash(request.body);
  const Idempotency::Decision decision = idempotency_.Begin(scope, hash, Now());
  Call keyed{request, call.captures, call.caller, RequestId(scope)};
  switch (decision.verdict) {
    case Idempotency::Verdict::Replay:
      return WriteBody(answer, static_cast<unsigned>(decision.answer.status),
                       decision.answer.contentType, decision.answer.body);
    case Idempotency::Verdict::OtherBody:
      throw Problem{422, "this Idempotency-Key was used with another body on this route"};
    case Idempotency::Verdict::Interrupted: {
      // Only a route that can tell whether its first run went out answers;
      // nothing tells that of the others.
      if (!entry.route.outcome) {
        throw Problem{409,
                      "the first request with this Idempotency-Key ended without its answer "
                      "being kept (a restart cut it off, or the database refused it): look up "
                      "its outcome before sending another"};
      }
      const auto settled = Kept(answer, [&] { entry.route.outcome(keyed, answer); });
      if (settled) KeepQuietly(scope, [&] { idempotency_.Settle(scope, hash, *settled, Now()); });
      return;
    }
    case Idempotency::Verdict::Run:
      break;
  }
  IdempotencyTicket ticket(idempotency_, scope, hash);
  std::optional<StoredAnswer> first;
  try {
    first = Kept(answer, [&] { entry.route.handler(keyed, answer); });
  } catch (...) {
    // A first run that may have had its effect (an authorization whose
    // journal row stands may have reached the dispenser, its reply lost): a
    // repeat must learn that, not run again.
    if (entry.route.mayHaveActed && entry.route.mayHaveActed(keyed)) ticket.Keep();
    throw;
  }
  // An answer that could not be kept is given all the same: the key stays
  // taken, and a repeat learns the outcome as after a restart.
  if (first) KeepQuietly(scope, [&] { ticket.Finish(*first, Now()); });
}

std::optional<StoredAnswer> Router::Kept(http::Answer& answer, const std::function<void()>& work) {
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

void Router::KeepQuietly(const IdempotencyScope& scope, const std::function<void()>& keep) {
  try {
    keep();
  } catch (const std::exception& error) {
    Log("the answer to Idempotency-Key {} of {} could not be kept: {}", LogText(scope.key),
        LogText(scope.token), error.what());
  }
}

}  // namespace quorlan::station
