// SPDX-License-Identifier: Apache-2.0
#pragma once
// The HTTP API under /api/v1, the event stream and the dashboard's files, as
// a router for the front door (station/http).

#include "station/api/EventStream.h"
#include "station/app/Station.h"
#include "station/http/Message.h"
#include "station/router/Audit.h"
#include "station/router/Auth.h"
#include "station/router/Router.h"

namespace quorlan::station {

class Api {
 public:
  Api(Station& station, const Authenticator& authenticator, AuditLog& audit);
  // Answers one request; runs on the front door's route pool.
  void Route(const http::Request& request, http::Answer& answer) { router_.Serve(request, answer); }
  // Whether it goes to the front door's urgent threads (a stop).
  bool Urgent(const http::Request& request) const { return router_.Urgent(request); }
  // The event streams' pump; ends with the station's event hub.
  EventStreams& Streams() { return streams_; }

 private:
  EventStreams streams_;
  Router router_;
};

}  // namespace quorlan::station
