// The utility exports: numbers, directories and the two file helpers.
#include "exports/export.h"
#include "base/utility.h"
#include "platform/dir.h"

QUILLON_ENTRY double QUILLON_CALL add(double a, double b) { return a + b; }

QUILLON_ENTRY double QUILLON_CALL CD(const char* directory) {
  if (directory) qp::change_directory(directory);
  return 1;
}

QUILLON_ENTRY double QUILLON_CALL MKDIR2(const char* directory) {
  if (directory) qp::make_directory(directory);
  return 1;
}

QUILLON_ENTRY double QUILLON_CALL RMDIR2(const char* directory) {
  if (directory) qp::remove_directory(directory);
  return 1;
}

QUILLON_ENTRY double QUILLON_CALL RMDIR(void) {
  return quillon::guarded(1.0, [] {
    quillon::remove_current_files();
    return 1.0;
  });
}

QUILLON_ENTRY double QUILLON_CALL T2GMT(const char* source, const char* destination) {
  return quillon::guarded(0.0, [&] { return quillon::copy_with_hashes(source, destination); });
}

QUILLON_ENTRY char* QUILLON_CALL makeBuffer(const char* path) {
  return quillon::guarded<char*>(nullptr, [&] { return quillon::first_line(path); });
}
