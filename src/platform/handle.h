// Operating-system handles as the rest of the library sees them.
#pragma once
#include <cstdint>
#include <utility>

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

// Closes a handle (declared with the file functions in file.h).
bool close_handle(Handle h);

// A handle together with whether its holder must close it: one opened by the
// library is owned and closed when the holder goes; a caller's handle is
// borrowed and left open. Move-only, so that exactly one holder closes it.
class HeldHandle {
 public:
  HeldHandle() = default;
  static HeldHandle own(Handle h) { return HeldHandle(h, true); }
  static HeldHandle borrow(Handle h) { return HeldHandle(h, false); }

  HeldHandle(HeldHandle&& other) noexcept : h_(other.h_), owned_(other.owned_) {
    other.h_ = nullptr;
    other.owned_ = false;
  }
  HeldHandle& operator=(HeldHandle&& other) noexcept {
    if (this != &other) {
      reset();
      h_ = std::exchange(other.h_, nullptr);
      owned_ = std::exchange(other.owned_, false);
    }
    return *this;
  }
  HeldHandle(const HeldHandle&) = delete;
  HeldHandle& operator=(const HeldHandle&) = delete;
  ~HeldHandle() { reset(); }

  Handle get() const { return h_; }
  // Holds no handle at all (a borrowed kInvalidHandle is still held).
  bool empty() const { return h_ == nullptr; }
  bool owned() const { return owned_; }
  // Gives the handle up without closing it.
  Handle release() {
    owned_ = false;
    return std::exchange(h_, nullptr);
  }
  // Closes an owned handle; the holder is empty afterwards.
  void reset() {
    if (owned_ && is_valid(h_)) close_handle(h_);
    h_ = nullptr;
    owned_ = false;
  }

 private:
  HeldHandle(Handle h, bool owned) : h_(h), owned_(owned) {}
  Handle h_ = nullptr;
  bool owned_ = false;
};

}  // namespace qp
