// The archive-writing export: pack a folder listing into a new archive file.
#include "exports/export.h"
#include "zip/api/zip_export.h"

QUILLON_ENTRY double QUILLON_CALL ZIP(const char* archive, const char* folder) {
  return quillon::guarded(0.0, [&] { return quillon::zip_folder(archive, folder); });
}
