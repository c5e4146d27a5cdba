#pragma once
// One row of the target table: the figure, what this run measured, the
// target and whether it was met.

#include <string>

namespace quorlan::bench {

void Row(const std::string& figure, const std::string& measured, const std::string& target,
         const char* verdict);
std::string Format(const char* format, double a, double b = 0, double c = 0, double d = 0);
const char* Verdict(bool met);

}  // namespace quorlan::bench
