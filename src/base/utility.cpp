#include "base/utility.h"

#include <cstdio>
#include <memory>
#include <string>

#include "base/filesize.h"
#include "base/text_result.h"
#include "platform/dir.h"
#include "platform/file.h"
#include "platform/fileinfo.h"
#include "platform/stream.h"

namespace quillon {
using qp::Stream;

void remove_current_files() {
  qp::ListingPtr listing(qp::open_listing("./"));
  if (!listing) {
    std::perror("Couldn't open the directory");
    return;
  }
  // Every entry is named, "." and ".." included; only files go away, and
  // read-only files stay, on every system and for every user.
  while (const char* name = qp::next_entry(listing.get())) {
    std::puts(name);
    qp::delete_writable_file(name);
  }
}

double copy_with_hashes(const char* source, const char* destination) {
  if (source == nullptr || destination == nullptr) return 0;
  // Opening the destination empties it before a byte is read, so a call
  // whose destination is its own source would destroy it: refuse that.
  if (qp::same_file(source, destination)) return 0;
  Stream in_stream(qp::open_stream(source, "rb"));
  if (!in_stream) return 0;
  Stream out_stream(qp::open_stream(destination, "wb+"));
  if (!out_stream) return 0;
  FILE* in = in_stream.get();
  FILE* out = out_stream.get();
  const int32_t size = filesize(in);
  double count = 0;
  for (;;) {
    // A read error ends the copy like the end of the file; otherwise a
    // stream whose size is unknown would be read forever.
    if (std::feof(in) || std::ferror(in)) break;
    int c = qp::stream_getc(in);
    if (count == size) {
      count = 1;
      break;
    }
    qp::stream_putc(c == '\n' ? '#' : c, out);
    count += 1;
  }
  return count;
}

char* first_line(const char* path) {
  static TextResult line;
  if (path == nullptr) return nullptr;
  Stream stream(qp::open_stream(path, "rb"));
  if (!stream) return nullptr;
  FILE* f = stream.get();
  const int32_t size = filesize(f);
  // fgets with a capacity of `size`: at most size - 1 bytes, up to and
  // including the first line feed. The text ends at its first zero byte.
  // Only the line itself is held, however large the file.
  std::string text;
  for (int32_t i = 0; i + 1 < size; ++i) {
    int c = qp::stream_getc(f);
    if (c == EOF) break;
    text.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return line.set(text.c_str(), std::char_traits<char>::length(text.c_str()));
}

}  // namespace quillon
