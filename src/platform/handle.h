// Operating-system handles as the rest of the library sees them.
#pragma once
#include <cstdint>

namespace qp {

// An open file, pipe or other byte stream of the operating system. A null
// handle means "no handle"; kInvalidHandle is what a failed open returns.
using Handle = void*;
inline const Handle kInvalidHandle = reinterpret_cast<Handle>(static_cast<intptr_t>(-1));

// Reported by position queries on a stream that has no position (a pipe),
// and by attribute queries on a path that does not exist.
constexpr uint32_t kNoPosition = 0xFFFFFFFFu;
// The same for the 64-bit position functions.
constexpr uint64_t kNoPosition64 = ~uint64_t(0);

inline bool is_valid(Handle h) { return h != nullptr && h != kInvalidHandle; }

}  // namespace qp
