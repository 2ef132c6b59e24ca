// Closing a reading handle: the archive object goes with its record.
#include "zip/api/close_handle.h"

#include "zip/format/zip_result.h"
#include "zip/read/reader.h"

namespace quillon {

ZIPRESULT CloseZipU(HZIP h) {
  if (h == nullptr) return lasterrorU = ZIPR_BADARGS;
  if (h->kind != kReadingHandle) return lasterrorU = ZIPR_MIXEDMODE;
  ArchiveReader* u = static_cast<ArchiveReader*>(h->object);
  const ZIPRESULT result = u->Close();
  delete u;
  delete h;
  return lasterrorU = result;
}

}  // namespace quillon
