// SPDX-License-Identifier: Apache-2.0
#include "station/journal/Store.h"

namespace quorlan::station {

Store::Store(const std::string& path)
    : database(path),
      prices(database),
      settlement(database),
      fills(database, settlement),
      shifts(database),
      events(database),
      answers(database) {
  // Each journal has said what it does at every opening.
  database.Open();
}

}  // namespace quorlan::station
