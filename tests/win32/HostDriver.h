#pragma once
// Loads Quorlan.dll as a host does (LoadLibrary, GetProcAddress), creates a
// driver on a HostDispatcher and calls its table entries by offset.

#include <gtest/gtest.h>
#include <windows.h>

#include "entry/StructuredException.h"
#include "win32/HostDispatcher.h"
#include "win32/RegisterCall.h"

namespace quorlan::hosttest {

using entry::kCodeAbstractError;
using entry::kCodeOther;
using entry::kCodeRangeError;
using entry::kCodeSerialIO;

HMODULE Library();
const void* Export(const char* name);

class HostDriverTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Calls GetDI30(flags, window, port) and returns the driver object.
  void* Create(std::uint32_t flags, void* port);
  // Calls table entry `index` of `driver` (default: this test's driver).
  CallOutcome Entry(int index, std::uint32_t edx = 0, std::uint32_t ecx = 0,
                    std::vector<std::uint32_t> stack = {}, bool floatResult = false);
  CallOutcome EntryOf(void* object, int index, std::uint32_t edx, std::uint32_t ecx,
                      std::vector<std::uint32_t> stack, bool floatResult = false);

  HostDispatcher host;
  void* driver = nullptr;
};

// The call popped exactly its parameters, left no x87 value behind and
// handed the host's floating-point state back.
void ExpectHostStateKept(const CallOutcome& outcome);
// Same, and nothing was raised.
void ExpectClean(const CallOutcome& outcome);
void ExpectRaised(const CallOutcome& outcome, std::uint32_t code, std::string_view message = {});

}  // namespace quorlan::hosttest
