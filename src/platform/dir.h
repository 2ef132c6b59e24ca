// Directories, the current directory, and directory listings.
#pragma once
#include <cstdint>
#include <memory>

namespace qp {

// Creates one directory (its parent must exist). False when it exists already.
bool make_directory(const char* path);

// make_directory for a path in UTF-8 (see open_read_shared_utf8 in file.h).
bool make_directory_utf8(const char* path);

// Removes an empty directory.
bool remove_directory(const char* path);

// Makes `path` the process's current directory; 0 on success, -1 on failure.
int change_directory(const char* path);

// Writes the current directory into buf (capacity `cap`, terminator included)
// and returns its length. When it does not fit, returns the capacity needed
// (terminator included) and leaves buf as the empty text.
uint32_t current_directory(uint32_t cap, char* buf);

// A listing of the entries of one directory, "." and ".." included, in the
// system's order. open_listing returns null when the directory cannot be
// listed (errno tells why, for perror).
struct Listing;
Listing* open_listing(const char* path);
const char* next_entry(Listing* listing);  // null after the last entry
void close_listing(Listing* listing);

// The same listing with every entry name in UTF-8 (`path` is a text of the
// system's code page). On Windows it lists through the wide-character
// functions, so a name without a form in the ANSI code page still comes out
// whole; elsewhere it is open_listing. next_entry and close_listing apply.
Listing* open_listing_utf8(const char* path);

// A listing closed when it goes out of scope.
struct ListingCloser {
  void operator()(Listing* listing) const { close_listing(listing); }
};
using ListingPtr = std::unique_ptr<Listing, ListingCloser>;

}  // namespace qp

#include <string>

namespace qp {

// Makes a new, empty, uniquely named folder under the system's folder for
// temporary files and returns its path with a trailing separator; "" on failure.
std::string make_temp_directory(const char* prefix);

}  // namespace qp
