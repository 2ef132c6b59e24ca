// The archive-writing export: pack a folder listing into a new archive file.
#include "host/export.h"
#include "zip/common/zip_export.h"

QUILLON_ENTRY double QUILLON_CALL ZIP(const char* archive, const char* folder) {
  return quillon::guarded(0.0, [&] { return quillon::zip_folder(archive, folder); });
}
