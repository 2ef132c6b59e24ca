// Closing a writing handle: the archive is ended and its output released,
// then the object and the record are freed.
#include "zip/api/close_handle.h"

#include "zip/format/zip_result.h"
#include "zip/write/writer.h"

namespace quillon {

ZIPRESULT CloseZipZ(HZIP h) {
  if (h == nullptr) return lasterrorZ = ZIPR_BADARGS;
  if (h->kind != kWritingHandle) return lasterrorZ = ZIPR_MIXEDMODE;
  ArchiveWriter* zip = static_cast<ArchiveWriter*>(h->object);
  const ZIPRESULT result = zip->Close();
  delete zip;
  delete h;
  return lasterrorZ = result;
}

}  // namespace quillon
