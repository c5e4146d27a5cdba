#pragma once
// The driver object as the host sees it: a block whose first field points to
// the 24-entry table of boundary functions, each calling the TVM30 member of
// the same position.

#include <cstddef>

#include "driver/TVM30.h"

namespace quorlan::entry {

inline constexpr int kDriverEntries = 24;

struct BinaryDriver {
  const void* const* table;  // first field, as in every host object
  TVM30* driver;
};
static_assert(offsetof(BinaryDriver, table) == 0);

// The library's table (kDriverEntries entries).
const void* const* DriverTable();

// Wraps a driver for the host; the block lives as long as the library.
BinaryDriver* WrapForHost(TVM30* driver);

}  // namespace quorlan::entry
