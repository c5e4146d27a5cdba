// SPDX-License-Identifier: Apache-2.0
#pragma once
// The station's routes, a room per resource, each added to the router by
// its own function. Each route parses its request, calls the station's use
// case and maps its outcome to an answer.

#include "station/api/EventStream.h"
#include "station/app/Station.h"
#include "station/router/Router.h"

namespace quorlan::station {

// The dispensers: their views, authorize, stop one or all (urgent), totals.
void AddDispenserRoutes(Router& router, Station& station);
// The fills: the journal's query, one fill, and a till's lock, unlock, clear.
void AddFillRoutes(Router& router, Station& station);
// The price book: read it, or change it whole.
void AddPriceRoutes(Router& router, Station& station);
// The shifts: close the open one, the closed ones' reports (JSON or CSV).
void AddShiftRoutes(Router& router, Station& station);
// The caller's own: who it is, and its event stream.
void AddSessionRoutes(Router& router, Station& station, EventStreams& streams);
// The service's: health (open to anyone), metrics, the OpenAPI document and
// the dashboard's files.
void AddServiceRoutes(Router& router, Station& station);

}  // namespace quorlan::station
