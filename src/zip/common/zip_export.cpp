// The body of the ZIP export: every entry of a folder listing, opened by its
// bare name (so from the current directory), becomes an item of a new
// archive file. Names are printed as they come; nothing else is reported.
//
// The listing gives names in UTF-8 and files are opened by those names: on
// Windows through the wide-character functions, so that a file whose name
// has no form in the ANSI code page is packed like any other. A name is
// printed in the system's code page where it has a form there, in UTF-8
// where it has none.
#include "zip/common/zip_export.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/dir.h"
#include "platform/text.h"
#include "zip/common/close_handle.h"
#include "zip/common/export_threads.h"
#include "zip/common/zip_result.h"
#include "zip/zip/zip.h"
#include "zip/zip/zip_parallel.h"

namespace quillon {

namespace {

// Each name of the listing goes to the standard output, with a line end:
// in the system's code page where it has a form there, else in UTF-8.
void print_name(const char* name) {
  std::string shown;
  bool exact = false;
  std::puts(qp::system_from_utf8(name, &shown, &exact) && exact ? shown.c_str() : name);
}

}  // namespace

void zip_folder(const char* zipfile, const char* folder) { zip_folder(zipfile, folder, export_thread_count()); }

void zip_folder(const char* zipfile, const char* folder, unsigned threads) {
  // The archive is closed, and the listing too, however the body is left.
  ScopedArchive archive(CreateZip(zipfile, nullptr));
  const HZIP h = archive.get();
  qp::ListingPtr listing(folder ? qp::open_listing_utf8(folder) : nullptr);
  if (!listing) {
    if (folder == nullptr) errno = ENOENT;
    std::perror("Couldn't open the directory");
  } else if (threads <= 1 || h == nullptr) {
    // ".", "..", folders and names missing from the current directory
    // cannot be opened as files and add nothing; nor can the archive
    // itself, which is held without sharing while it is written.
    while (const char* name = qp::next_entry(listing.get())) {
      print_name(name);
      ZipAddUtf8(h, name, name);
    }
  } else {
    // The whole listing first, so that workers can compress ahead; names
    // are printed and items added in its order all the same.
    std::vector<std::string> names;
    while (const char* name = qp::next_entry(listing.get())) names.emplace_back(name);
    listing.reset();
    zip_add_files_parallel(h, names, threads, print_name);
  }
}

}  // namespace quillon
