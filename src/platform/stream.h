// Byte-at-a-time access to the runtime's buffered streams, without taking the
// stream lock for every byte where the runtime offers that.
#pragma once
#include <cstdio>
#include <memory>

namespace qp {

#if defined(_WIN32)
inline int stream_getc(FILE* f) { return _getc_nolock(f); }
inline int stream_putc(int c, FILE* f) { return _putc_nolock(c, f); }
#elif defined(__GLIBC__)
inline int stream_getc(FILE* f) { return getc_unlocked(f); }
inline int stream_putc(int c, FILE* f) { return putc_unlocked(c, f); }
#else
inline int stream_getc(FILE* f) { return std::fgetc(f); }
inline int stream_putc(int c, FILE* f) { return std::fputc(c, f); }
#endif

}  // namespace qp

namespace qp {

// fopen for the byte-stream exports. A directory is refused here as the
// Windows runtime refuses it, so a byte loop never runs on a folder.
FILE* open_stream(const char* path, const char* mode);

// An open stream, closed when it goes out of scope.
struct StreamCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using Stream = std::unique_ptr<FILE, StreamCloser>;

}  // namespace qp
