#pragma once
// A broken invariant ends the run at once with a message, so libFuzzer keeps
// the input that caused it.

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, ...)                                                           \
  do {                                                                                       \
    if (!(condition)) {                                                                      \
      std::fprintf(stderr, "%s:%d: invariant broken: %s: ", __FILE__, __LINE__, #condition); \
      std::fprintf(stderr, __VA_ARGS__);                                                     \
      std::fputc('\n', stderr);                                                              \
      std::abort();                                                                          \
    }                                                                                        \
  } while (0)
