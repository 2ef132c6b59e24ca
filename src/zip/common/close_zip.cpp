// Closing a writing handle. Until the archive writer exists there is no
// writing object, so only the argument checks apply.
#include "zip/common/zip_result.h"

namespace quillon {

ZIPRESULT CloseZipZ(HZIP h) {
  if (h == nullptr) return lasterrorZ = ZIPR_BADARGS;
  if (h->kind != kWritingHandle) return lasterrorZ = ZIPR_MIXEDMODE;
  return lasterrorZ = ZIPR_NOTINITIALISED;
}

}  // namespace quillon
