#pragma once
// Out parameters and result buffers are host memory; a nil one ends the call
// with an exception instead of an access violation inside the library.

#include "base/Errors.h"

namespace quorlan::entry {

class EInvalidPointer : public EDriverError {
 public:
  EInvalidPointer() : EDriverError(kMessage) {}
  const char* ClassName() const noexcept override { return "EInvalidPointer"; }
  static constexpr std::string_view kMessage = "Invalid pointer operation";
};

template <class T>
T& HostReference(T* pointer) {
  if (pointer == nullptr) throw EInvalidPointer();
  return *pointer;
}

}  // namespace quorlan::entry
