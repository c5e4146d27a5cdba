// SPDX-License-Identifier: Apache-2.0
#include "station/api/Api.h"

#include "station/api/Routes.h"

namespace quorlan::station {

Api::Api(Station& station, const Authenticator& authenticator, AuditLog& audit)
    : streams_(station), router_(authenticator, audit, station.Journal().answers) {
  AddServiceRoutes(router_, station);
  AddSessionRoutes(router_, station, streams_);
  AddDispenserRoutes(router_, station);
  AddPriceRoutes(router_, station);
  AddFillRoutes(router_, station);
  AddShiftRoutes(router_, station);
}

}  // namespace quorlan::station
