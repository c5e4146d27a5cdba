#include "entry/StructuredException.h"

#include <windows.h>

#include <new>
#include <string>
#include <string_view>

#include "base/Errors.h"

namespace quorlan::entry {

namespace {

struct KeptException {
  std::uint32_t code = kCodeOther;
  const char* className = "Exception";  // always a literal: outlives the raise
  std::string message;
};

thread_local KeptException kept;

void Keep(std::uint32_t code, const char* className, std::string_view message) noexcept {
  kept.code = code;
  kept.className = className;
  try {
    kept.message.assign(message);
  } catch (...) {
    kept.message.clear();  // no memory for the text: the code still tells
  }
}

}  // namespace

void KeepCurrentException() noexcept {
  try {
    throw;
  } catch (const ESerialIO& error) {
    Keep(kCodeSerialIO, error.ClassName(), error.Message());
  } catch (const ERangeError& error) {
    Keep(kCodeRangeError, error.ClassName(), error.Message());
  } catch (const EAbstractError& error) {
    Keep(kCodeAbstractError, error.ClassName(), error.Message());
  } catch (const EDriverError& error) {
    Keep(kCodeOther, error.ClassName(), error.Message());
  } catch (const std::bad_alloc&) {
    Keep(kCodeOther, "EOutOfMemory", "Out of memory");
  } catch (const std::exception& error) {
    Keep(kCodeOther, "Exception", error.what());
  } catch (...) {
    Keep(kCodeOther, "Exception", "Unknown exception");
  }
}

void RaiseKeptException() {
  const ULONG_PTR parameters[2] = {reinterpret_cast<ULONG_PTR>(kept.message.c_str()),
                                   reinterpret_cast<ULONG_PTR>(kept.className)};
  RaiseException(kept.code, EXCEPTION_NONCONTINUABLE, 2, parameters);
  // A host handler that continues a non-continuable exception gets another
  // exception from the system; control never comes back here.
  __builtin_unreachable();
}

}  // namespace quorlan::entry
