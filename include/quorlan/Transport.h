#pragma once
// The transport base: what carries the driver's requests to a line and the
// replies back.
//
// For now the port dispatcher interface itself; it becomes the base class
// that owns the per-channel bookkeeping once the transports move onto it.

#include "quorlan/PortDispatcher.h"

namespace quorlan {
using Transport = TPortDispatcher;
}  // namespace quorlan
