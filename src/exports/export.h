// What every export definition needs: the public declarations, stack
// realignment on entry, and a guard that keeps exceptions inside the library.
#pragma once
#include <new>

#include "quillon.h"

// 32-bit hosts may call with a 4-byte aligned stack while the compiler assumes
// 16 bytes; each export realigns on entry so vector code inside never faults.
#if defined(__i386__)
#define QUILLON_ENTRY __attribute__((force_align_arg_pointer))
#else
#define QUILLON_ENTRY
#endif

namespace quillon {

// Runs `body` and returns its result; an exception (memory running out is the
// only one the library expects) becomes `failure` instead of crossing into a
// host that cannot catch it.
template <typename T, typename Body>
T guarded(T failure, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

}  // namespace quillon
