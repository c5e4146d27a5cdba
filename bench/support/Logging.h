#pragma once
// Whether a benchmark's driver logs: not at all, or to a real file.

namespace quorlan::bench {

enum class Logging { Off, ToFile };

}  // namespace quorlan::bench
