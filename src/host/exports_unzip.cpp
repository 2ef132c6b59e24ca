// The archive extraction export.
#include "host/export.h"
#include "zip/common/unzip_export.h"

QUILLON_ENTRY double QUILLON_CALL UNZIP(const char* archive, const char* folder) {
  return quillon::guarded(0.0, [&] { return quillon::unzip_archive(archive, folder); });
}
