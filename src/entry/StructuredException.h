#pragma once
// C++ exceptions leave the library only as Win32 structured exceptions:
// non-continuable, parameter 0 the message (Windows-1251, NUL-terminated,
// valid until the next exception on the same thread), parameter 1 the
// exception class name.

#include <cstdint>

namespace quorlan::entry {

inline constexpr std::uint32_t kCodeSerialIO = 0xE0510001;
inline constexpr std::uint32_t kCodeRangeError = 0xE0510002;
inline constexpr std::uint32_t kCodeAbstractError = 0xE0510003;
inline constexpr std::uint32_t kCodeOther = 0xE0510004;

// Records the exception being handled; call only inside a catch block.
void KeepCurrentException() noexcept;
// Raises what KeepCurrentException recorded. Call it with no C++ object of
// the caller alive: the raise leaves through the host's handlers.
[[noreturn]] void RaiseKeptException();

}  // namespace quorlan::entry
