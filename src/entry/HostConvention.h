#pragma once
// The object-pascal `register` convention in GCC terms: Self and the first two
// qualifying parameters in EAX, EDX, ECX; the rest on the stack, declared here
// in reverse of the host's push order; the callee pops them. Functions the
// host calls also realign the stack, since the host keeps only 4 bytes.

#define QUORLAN_REGISTER __attribute__((regparm(3), stdcall))
#define QUORLAN_HOST_CALLABLE __attribute__((regparm(3), stdcall, force_align_arg_pointer))

namespace quorlan::entry {

// An object-pascal method pointer passed by value: two stack dwords, Code at
// the lower address (pushed last), called as Code with EAX = Data.
struct MethodPointer {
  const void* code;
  void* data;
};
static_assert(sizeof(MethodPointer) == 8);

// A host object as the host lays it out: its first field points to the table.
struct HostObject {
  const void* const* table;
};

}  // namespace quorlan::entry
