#include "support/TargetRows.h"

#include <cstdio>

namespace quorlan::bench {

void Row(const std::string& figure, const std::string& measured, const std::string& target,
         const char* verdict) {
  std::printf("%-44s %-30s %-10s %s\n", figure.c_str(), measured.c_str(), target.c_str(), verdict);
}

std::string Format(const char* format, double a, double b, double c, double d) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b, c, d);
  return text;
}

const char* Verdict(bool met) {
  return met ? "met" : "MISSED";
}

}  // namespace quorlan::bench
