#pragma once
// quorlan demo: a complete fill on the embedded simulator, shown live.

#include "GlobalOptions.h"

namespace quorlan::cli {

int RunDemo(const GlobalOptions& options);

}  // namespace quorlan::cli
