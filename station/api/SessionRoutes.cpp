// SPDX-License-Identifier: Apache-2.0
// The caller's own routes: who it is, and its event stream.

#include <optional>

#include "station/api/Routes.h"
#include "station/format/JsonViews.h"

namespace quorlan::station {

namespace {

void Events(EventStreams& streams, const Call& call, http::Answer& answer) {
  std::optional<std::int64_t> resumeAfter;
  if (const auto id = Whole<std::int64_t>(call.request.Header("Last-Event-ID")); id && *id >= 0) {
    resumeAfter = *id;
  }
  // The caller's name owns the stream, so that withdrawing its token closes it.
  auto stream = answer.Stream({{"Content-Type", "text/event-stream"},
                               {"Cache-Control", "no-store"},
                               {"X-Accel-Buffering", "no"}},
                              call.caller.name);
  if (stream) streams.Add(std::move(stream), resumeAfter);
}

}  // namespace

void AddSessionRoutes(Router& router, Station& station, EventStreams& streams) {
  router.Add({"GET", "/api/v1/session", "/api/v1/session", Role::View, false,
              [&station](const Call& call, http::Answer& answer) {
                WriteJson(answer, SessionJson(station.Session(call.caller.name, call.caller.role)));
              }});
  router.Add(
      {"GET", "/api/v1/events", "/api/v1/events", Role::View, false,
       [&streams](const Call& call, http::Answer& answer) { Events(streams, call, answer); }});
}

}  // namespace quorlan::station
