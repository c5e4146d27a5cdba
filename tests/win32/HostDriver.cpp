#include "win32/HostDriver.h"

namespace quorlan::hosttest {

HMODULE Library() {
  static const HMODULE library = LoadLibraryA("Quorlan.dll");
  return library;
}

const void* Export(const char* name) {
  return reinterpret_cast<const void*>(GetProcAddress(Library(), name));
}

void HostDriverTest::SetUp() {
  ASSERT_NE(Library(), nullptr) << "Quorlan.dll must lie next to the test program";
  driver = Create(0, host.Port());
  ASSERT_NE(driver, nullptr);
}

void HostDriverTest::TearDown() {
  for (const auto& fault : host.callbackFaults) ADD_FAILURE() << fault;
}

void* HostDriverTest::Create(std::uint32_t flags, void* port) {
  const auto outcome =
      Call({.target = Export("GetDI30"), .eax = flags, .edx = 0x00010203, .ecx = Dword(port)});
  ExpectClean(outcome);
  return reinterpret_cast<void*>(static_cast<std::uintptr_t>(outcome.eax));
}

CallOutcome HostDriverTest::Entry(int index, std::uint32_t edx, std::uint32_t ecx,
                                  std::vector<std::uint32_t> stack, bool floatResult) {
  return EntryOf(driver, index, edx, ecx, std::move(stack), floatResult);
}

CallOutcome HostDriverTest::EntryOf(void* object, int index, std::uint32_t edx, std::uint32_t ecx,
                                    std::vector<std::uint32_t> stack, bool floatResult) {
  // Table offset 4 * index from the pointer in the object's first field.
  const auto table = *static_cast<const void* const* const*>(object);
  return Call({.target = table[index],
               .eax = Dword(object),
               .edx = edx,
               .ecx = ecx,
               .stack = std::move(stack),
               .floatResult = floatResult});
}

void ExpectHostStateKept(const CallOutcome& outcome) {
  EXPECT_EQ(outcome.stackLeft, 0) << "the callee popped the wrong number of bytes";
  EXPECT_EQ(outcome.x87Depth, 0);
  EXPECT_EQ(outcome.x87Control, kHostX87Control);
  EXPECT_EQ(outcome.mxcsr, kHostMxcsr);
}

void ExpectClean(const CallOutcome& outcome) {
  ExpectHostStateKept(outcome);
  EXPECT_FALSE(outcome.raised) << std::hex << outcome.code << " " << outcome.message;
}

void ExpectRaised(const CallOutcome& outcome, std::uint32_t code, std::string_view message) {
  ASSERT_TRUE(outcome.raised);
  EXPECT_EQ(outcome.code, code) << std::hex << outcome.code << " " << outcome.message;
  EXPECT_EQ(outcome.flags & EXCEPTION_NONCONTINUABLE, EXCEPTION_NONCONTINUABLE);
  EXPECT_EQ(outcome.parameterCount, 2u);
  if (!message.empty()) {
    EXPECT_EQ(outcome.message, message);
  }
  EXPECT_EQ(outcome.x87Control, kHostX87Control);
  EXPECT_EQ(outcome.mxcsr, kHostMxcsr);
}

}  // namespace quorlan::hosttest
