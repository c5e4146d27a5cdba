#include "win32/RegisterCall.h"

#include <windows.h>

#include <cstddef>

namespace quorlan::hosttest {

namespace {

// Shared with the assembly below; offsets are fixed by the static_asserts.
struct CallFrame {
  const void* target;           // 0
  std::uint32_t eax, edx, ecx;  // 4, 8, 12
  const std::uint32_t* stack;   // 16
  std::uint32_t count;          // 20
  std::uint16_t x87Control;     // 24
  std::uint16_t unused;
  std::uint32_t mxcsr;            // 28
  std::uint32_t outEax;           // 32
  std::uint32_t outEdx;           // 36
  std::int32_t stackLeft;         // 40
  std::uint16_t outX87Control;    // 44
  std::uint16_t outX87Status;     // 46
  std::uint32_t outMxcsr;         // 48
  std::uint32_t floatResult;      // 52
  double st0;                     // 56
  std::uint32_t raised;           // 64
  std::uint16_t beforeX87Status;  // 68
};
static_assert(offsetof(CallFrame, count) == 20);
static_assert(offsetof(CallFrame, mxcsr) == 28);
static_assert(offsetof(CallFrame, outX87Control) == 44);
static_assert(offsetof(CallFrame, floatResult) == 52);
static_assert(offsetof(CallFrame, st0) == 56);
static_assert(offsetof(CallFrame, raised) == 64);
static_assert(offsetof(CallFrame, beforeX87Status) == 68);

struct CaughtException {
  std::uint32_t code = 0, flags = 0, parameterCount = 0;
  std::string message, className;
};
thread_local CaughtException caught;

int X87Top(std::uint16_t status) {
  return (status >> 11) & 7;
}

}  // namespace

extern "C" void HostCallRecordException(const EXCEPTION_RECORD* record) {
  caught = {record->ExceptionCode, record->ExceptionFlags, record->NumberParameters, {}, {}};
  const auto text = [&](DWORD index) {
    const auto* pointer = index < record->NumberParameters
                              ? reinterpret_cast<const char*>(record->ExceptionInformation[index])
                              : nullptr;
    return pointer != nullptr ? std::string(pointer) : std::string();
  };
  caught.message = text(0);
  caught.className = text(1);
}

extern "C" void HostCallRun(CallFrame* frame);

// The frame-based handler catches every exception that reaches it, unwinds
// the frames above it as a host's try/except does, and resumes the caller at
// its recovery point.
asm(R"(
  .intel_syntax noprefix
  .text
  .globl _HostCallRun
_HostCallRun:
  push ebp
  mov ebp, esp
  push ebx
  push esi
  push edi
  sub esp, 8
  fnstcw WORD PTR [ebp-20]
  stmxcsr DWORD PTR [ebp-16]
  push ebp
  push OFFSET HostCallHandler
  push DWORD PTR fs:0
  mov DWORD PTR fs:0, esp
  mov ebx, [ebp+8]
  fnstsw WORD PTR [ebx+68]
  mov ecx, [ebx+20]
  mov edx, [ebx+16]
  xor esi, esi
HostCallPush:
  cmp esi, ecx
  jae HostCallPushed
  push DWORD PTR [edx+esi*4]
  inc esi
  jmp HostCallPush
HostCallPushed:
  fldcw WORD PTR [ebx+24]
  ldmxcsr DWORD PTR [ebx+28]
  mov eax, [ebx+4]
  mov edx, [ebx+8]
  mov ecx, [ebx+12]
  call DWORD PTR [ebx]
  mov ebx, [ebp+8]
  mov [ebx+32], eax
  mov [ebx+36], edx
  lea eax, [ebp-32]
  mov edx, esp
  sub edx, eax
  mov [ebx+40], edx
  fnstcw WORD PTR [ebx+44]
  fnstsw WORD PTR [ebx+46]
  stmxcsr DWORD PTR [ebx+48]
  cmp DWORD PTR [ebx+52], 0
  je HostCallDone
  fstp QWORD PTR [ebx+56]
  jmp HostCallDone
HostCallRecovered:
  mov ebx, [ebp+8]
  mov DWORD PTR [ebx+64], 1
  fnstcw WORD PTR [ebx+44]
  fnstsw WORD PTR [ebx+46]
  stmxcsr DWORD PTR [ebx+48]
HostCallDone:
  lea esp, [ebp-32]
  pop DWORD PTR fs:0
  fnclex
  fldcw WORD PTR [ebp-20]
  ldmxcsr DWORD PTR [ebp-16]
  lea esp, [ebp-12]
  pop edi
  pop esi
  pop ebx
  pop ebp
  ret

HostCallHandler:
  mov eax, [esp+4]
  test DWORD PTR [eax+4], 6
  jz HostCallCatch
  mov eax, 1
  ret
HostCallCatch:
  push eax
  call _HostCallRecordException
  add esp, 4
  mov eax, [esp+4]
  mov ecx, [esp+8]
  push 0
  push eax
  push OFFSET HostCallUnwound
  push ecx
  call _RtlUnwind@16
HostCallUnwound:
  mov ecx, [esp+8]
  mov ebp, [ecx+8]
  jmp HostCallRecovered
  .att_syntax
)");

CallOutcome Call(const RegisterCall& call) {
  CallFrame frame{};
  frame.target = call.target;
  frame.eax = call.eax;
  frame.edx = call.edx;
  frame.ecx = call.ecx;
  frame.stack = call.stack.data();
  frame.count = static_cast<std::uint32_t>(call.stack.size());
  frame.x87Control = call.x87Control;
  frame.mxcsr = call.mxcsr;
  frame.floatResult = call.floatResult;
  caught = {};
  HostCallRun(&frame);

  CallOutcome outcome;
  outcome.eax = frame.outEax;
  outcome.st0 = frame.st0;
  outcome.stackLeft = frame.stackLeft;
  // TOP counts down as values are pushed.
  outcome.x87Depth = (X87Top(frame.beforeX87Status) - X87Top(frame.outX87Status) + 8) % 8 -
                     (call.floatResult && !frame.raised ? 1 : 0);
  outcome.x87Control = frame.outX87Control;
  outcome.mxcsr = frame.outMxcsr;
  outcome.raised = frame.raised != 0;
  if (outcome.raised) {
    outcome.code = caught.code;
    outcome.flags = caught.flags;
    outcome.parameterCount = caught.parameterCount;
    outcome.message = caught.message;
    outcome.className = caught.className;
  }
  return outcome;
}

}  // namespace quorlan::hosttest
