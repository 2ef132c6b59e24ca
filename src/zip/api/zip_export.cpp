// The body of the ZIP export: every entry of a folder listing, opened by its
// bare name (so from the current directory), becomes an item of a new
// archive file. The names are taken in the byte order of their UTF-8 form,
// not in the order the file system lists them (a hash order on some), so
// that one folder gives one archive on every machine; each is printed as
// its turn comes.
//
// The listing gives names in UTF-8 and files are opened by those names: on
// Windows through the wide-character functions, so that a file whose name
// has no form in the ANSI code page is packed like any other. A name is
// printed in the system's code page where it has a form there, in UTF-8
// where it has none.
#include "zip/api/zip_export.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/dir.h"
#include "platform/file.h"
#include "platform/fileinfo.h"
#include "platform/text.h"
#include "zip/api/close_handle.h"
#include "zip/api/export_threads.h"
#include "zip/format/zip_result.h"
#include "zip/write/writer.h"
#include "zip/write/pack_parallel.h"

namespace quillon {

namespace {

// Each name of the listing goes to the standard output, with a line end:
// in the system's code page where it has a form there, else in UTF-8.
void print_name(const char* name) {
  std::string shown;
  bool exact = false;
  std::puts(qp::system_from_utf8(name, &shown, &exact) && exact ? shown.c_str() : name);
}

// Whether the archive should hold the listed name: not the listing's "."
// and "..", nor a folder (the files of a folder are packed, not its
// sub-folders), nor the archive being written. A name that is gone since
// it was listed should have been held.
bool is_file_to_hold(const std::string& name, const char* zipfile) {
  if (name == "." || name == "..") return false;
  const uint32_t attributes = qp::get_file_attributes_utf8(name.c_str());
  if (attributes == qp::kNoPosition) return true;
  if (attributes & qp::kAttrDirectory) return false;
  std::string system;
  bool exact = false;
  return !(qp::system_from_utf8(name.c_str(), &system, &exact) && exact && qp::same_file(system.c_str(), zipfile));
}

}  // namespace

double zip_folder(const char* zipfile, const char* folder) {
  return zip_folder(zipfile, folder, export_thread_count());
}

double zip_folder(const char* zipfile, const char* folder, unsigned threads) {
  // The archive is closed, and the listing too, however the body is left.
  ScopedArchive archive(CreateZip(zipfile, nullptr));
  const HZIP h = archive.get();
  qp::ListingPtr listing(folder ? qp::open_listing_utf8(folder) : nullptr);
  const bool listed = static_cast<bool>(listing);
  std::vector<std::string> names;
  std::vector<ZIPRESULT> results;
  if (!listing) {
    if (folder == nullptr) errno = ENOENT;
    std::perror("Couldn't open the directory");
  } else {
    while (const char* name = qp::next_entry(listing.get())) names.emplace_back(name);
    listing.reset();
    std::sort(names.begin(), names.end());  // bytes compared as unsigned, as UTF-8 orders them
  }
  if (listed && (threads <= 1 || h == nullptr)) {
    // ".", "..", folders and names missing from the current directory
    // cannot be opened as files and add nothing; nor can the archive
    // itself, which is held without sharing while it is written.
    for (const std::string& name : names) {
      print_name(name.c_str());
      results.push_back(ZipAddUtf8(h, name.c_str(), name.c_str()));
    }
  } else if (listed) {
    // Workers compress ahead; names are printed and items added in order
    // all the same.
    results = zip_add_files_parallel(h, names, threads, print_name);
  }
  if (h == nullptr) return 0;
  bool whole = listed;
  for (size_t i = 0; i < names.size(); ++i)
    if (results[i] != ZIPR_OK && is_file_to_hold(names[i], zipfile)) whole = false;
  // A close that fails leaves no sound archive: this call made the file, so
  // it takes it away again rather than leave a damaged one behind (a device
  // or pipe that was written to is no file of its own to take away).
  if (archive.close_writer() != ZIPR_OK) {
    uint64_t size = 0;
    if (qp::regular_file_size(zipfile, &size)) qp::delete_file(zipfile);
    whole = false;
  }
  return whole ? 1 : 0;
}

}  // namespace quillon
