// Closing an archive handle of either kind. Only the front end over the
// reader and the writer knows both archive objects, so the declarations sit
// in its header: a layer below it that tried to close a handle would fail to
// compile, not just to link.
#pragma once
#include "zip/format/zip_result.h"

namespace quillon {

// Frees a reading handle's archive object and the record.
ZIPRESULT CloseZipU(HZIP h);
// Ends a writing handle's archive, releases its output, then frees the
// object and the record.
ZIPRESULT CloseZipZ(HZIP h);

// Closes a handle of either kind (a null one too, which only sets the last
// result) however the scope is left, memory running out included.
class ScopedArchive {
 public:
  explicit ScopedArchive(HZIP h) : h_(h) {}
  ~ScopedArchive() {
    if (closed_) return;
    if (IsZipHandleU(h_)) {
      CloseZipU(h_);
    } else {
      CloseZipZ(h_);
    }
  }
  ScopedArchive(const ScopedArchive&) = delete;
  ScopedArchive& operator=(const ScopedArchive&) = delete;
  HZIP get() const { return h_; }
  // Closes a writing handle now and gives the close's result: whether the
  // archive was written whole.
  ZIPRESULT close_writer() {
    closed_ = true;
    return CloseZipZ(h_);
  }

 private:
  HZIP h_;
  bool closed_ = false;
};

}  // namespace quillon
