#pragma once
// Every file of an in-memory log holds whole lines only: a time stamp, one
// space and the text, each ended by CR LF; the paragraph break is a lone
// CR LF at most once.

#include <string>

#include "support/MemoryLogPlatform.h"

namespace quorlan::fuzz {

void CheckLog(const quorlan::testing::MemoryLogPlatform& platform, const std::string& logName);

}  // namespace quorlan::fuzz
