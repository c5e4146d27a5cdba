#include "LogCheck.h"

#include "Check.h"

namespace quorlan::fuzz {

namespace {

bool IsTimeStamp(const std::string& line) {
  static constexpr char kShape[] = "dd:dd:dd.ddd ";
  if (line.size() < 13) return false;
  for (int i = 0; i < 13; ++i) {
    const char c = line[static_cast<std::size_t>(i)];
    if (kShape[i] == 'd' ? (c < '0' || c > '9') : c != kShape[i]) return false;
  }
  return true;
}

}  // namespace

void CheckLog(const quorlan::testing::MemoryLogPlatform& platform, const std::string& logName) {
  int breaks = 0;
  for (const auto& [name, content] : platform.files) {
    FUZZ_CHECK(
        name == logName ||
            (name.size() == logName.size() + 2 && name.compare(0, logName.size(), logName) == 0 &&
             name[logName.size()] == '.' && name.back() >= '0' && name.back() <= '9'),
        "unexpected log file %s", name.c_str());
    FUZZ_CHECK(content.size() >= 2 && content.compare(content.size() - 2, 2, "\r\n") == 0,
               "%s does not end with a whole line", name.c_str());
    std::size_t start = 0;
    while (start < content.size()) {
      const auto end = content.find("\r\n", start);
      const std::string line = content.substr(start, end - start);
      if (line.empty()) {
        ++breaks;
      } else {
        FUZZ_CHECK(IsTimeStamp(line), "torn line '%s' in %s", line.c_str(), name.c_str());
      }
      start = end + 2;
    }
  }
  FUZZ_CHECK(breaks <= 1, "%d paragraph breaks", breaks);
}

}  // namespace quorlan::fuzz
