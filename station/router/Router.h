// SPDX-License-Identifier: Apache-2.0
#pragma once
// The route table of the front door: each route's method, path pattern,
// label for the request counters, the role it needs and whether it is
// urgent (answered on the front door's urgent threads, never behind the
// commands it may be meant to cut short). A request finds its caller by the
// bearer token, then its route (404, or 405 with Allow), is refused below
// the route's role (403), runs (once only, with an Idempotency-Key), and
// leaves an audit line.

#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "station/http/Answer.h"
#include "station/journal/Idempotency.h"
#include "station/router/Audit.h"
#include "station/router/Auth.h"
#include "station/router/Request.h"

namespace quorlan::station {

using Handler = std::function<void(const Call& call, http::Answer& answer)>;

struct Route {
  std::string method;
  std::string pattern;  // a regular expression of the whole path; groups are the captures
  std::string label;    // for the request counters: ids in paths make no label each
  // Who may call it; none: anyone, without a token (health).
  std::optional<Role> role;
  bool urgent = false;
  Handler handler;
  // A repeat of a keyed request whose first answer was not kept (a restart
  // cut it off, or the database refused it) runs this when the route can
  // learn the outcome; none: 409.
  Handler outcome = nullptr;
  // Whether a first run that failed may have had its effect, so that its key
  // stays taken and a repeat learns the outcome through `outcome`.
  std::function<bool(const Call& call)> mayHaveActed = nullptr;
};

class Router {
 public:
  Router(const Authenticator& authenticator, AuditLog& audit, IdempotencyStorage& answers);

  void Add(Route route);
  // Answers a path outside /api/ that no route has: the dashboard's files.
  using Page = std::function<void(const http::Request& request, http::Answer& answer)>;
  void SetPage(Page page) { page_ = std::move(page); }

  // Answers one request; runs on the front door's route pool.
  void Serve(const http::Request& request, http::Answer& answer);
  // Whether the request is for an urgent route; asked on a network thread.
  bool Urgent(const http::Request& request) const;

 private:
  struct Entry {
    Route route;
    std::regex path;
  };
  void Dispatch(const http::Request& request, http::Answer& answer, std::string& who);
  // A POST or PUT with an Idempotency-Key: the first runs `entry` and keeps
  // its answer, a repeat gets that answer.
  void Idempotent(const Entry& entry, const Call& call, http::Answer& answer);
  // Runs `work`, which answers; a refusal it throws becomes the answer.
  // The answer as kept for repeats, if one was given.
  static std::optional<StoredAnswer> Kept(http::Answer& answer, const std::function<void()>& work);
  // Keeps an answer already given; a failure to is logged, never answered.
  static void KeepQuietly(const IdempotencyScope& scope, const std::function<void()>& keep);

  const Authenticator& authenticator_;
  AuditLog& audit_;
  Idempotency idempotency_;
  std::vector<Entry> routes_;
  Page page_;
};

}  // namespace quorlan::station
