// How many threads the archive exports put to work.
#pragma once

namespace quillon {

// The most threads an export starts when the environment does not say.
constexpr unsigned kDefaultThreadCap = 8;

// From QUILLON_THREADS in the environment: a number from 1 up (1 keeps the
// whole export on the calling thread; large values are capped at the pool's
// limit). Unset, empty or not a number: one per processor, at most 8.
unsigned export_thread_count();

}  // namespace quillon
