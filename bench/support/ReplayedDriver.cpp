#include "support/ReplayedDriver.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace quorlan::bench {

ReplayedDriver::ReplayedDriver(sim::LineOptions line, Logging logging)
    : line_(std::make_shared<sim::Line>(std::move(line))),
      logger_(SystemLogPlatform()),
      driver_(port_, 0, logger_) {
  logger_.SetFileName(logging == Logging::ToFile ? scratch_.File("driver.log") : "");
  simulator_.Attach(1, line_);
  driver_.OpenChannel(1);
}

std::size_t ReplayedDriver::LogLines() const {
  const std::string name = logger_.FileName();
  if (name.empty()) return 0;
  std::ifstream file(name, std::ios::binary);
  return std::size_t(std::count(std::istreambuf_iterator<char>(file), {}, '\n'));
}

}  // namespace quorlan::bench
