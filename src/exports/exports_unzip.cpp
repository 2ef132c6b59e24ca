// The archive extraction export.
#include "exports/export.h"
#include "zip/api/unzip_export.h"

QUILLON_ENTRY double QUILLON_CALL UNZIP(const char* archive, const char* folder) {
  return quillon::guarded(0.0, [&] { return quillon::unzip_archive(archive, folder); });
}
