// Small helpers shared by the test programs: scratch folders, files and
// trees, little-endian fields, test data, zlib as the control, and pipes
// fed or drained on a thread of their own.
#pragma once
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/file.h"
#include "platform/fileinfo.h"

namespace testkit {

// A fresh folder for one test, removed with everything in it at the end
// (read-only files first made writable, which Windows needs to delete them).
// The process's current directory is restored too, if a test changed it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The folder, with a trailing separator.
  const std::string& path() const { return path_; }
  // path() + name.
  std::string operator/(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
  std::string saved_cwd_;
};

bool write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);
bool exists(const std::string& path);
bool is_directory(const std::string& path);
std::string current_dir();
// The names in a folder, "." and ".." left out, in listing order.
std::vector<std::string> entry_names(const std::string& dir);
// Every file and folder below `dir` (recursively), as paths relative to it
// with '/', folders with a trailing '/', in listing order.
std::vector<std::string> tree(const std::string& dir);
// The file's information through a read handle; false when it cannot be read.
bool file_info(const std::string& path, qp::FileInfo* info);

// Deletes a folder and everything in it.
void remove_tree(const std::string& path);

// The same for paths in UTF-8, on both builds (wide names on Windows).
// read_utf8 gives "<missing>" for a file it cannot open.
std::string read_utf8(const std::string& path);
bool exists_utf8(const std::string& path);
bool file_info_utf8(const std::string& path, qp::FileInfo* info);
// Every file and folder below `dir`, relative, folders with '/'.
std::vector<std::string> tree_utf8(const std::string& dir);

// Little-endian fields in a byte string or at a pointer.
uint32_t get16(const unsigned char* p);
uint32_t get32(const unsigned char* p);
uint64_t get64(const unsigned char* p);
uint32_t get16(const std::string& s, size_t at);
uint32_t get32(const std::string& s, size_t at);
uint64_t get64(const std::string& s, size_t at);
void put16(std::string& s, size_t at, uint16_t v);
void put32(std::string& s, size_t at, uint32_t v);

// Deterministic bytes: text-like when `text`, otherwise noise.
std::string make_bytes(size_t n, uint32_t seed, bool text);

// zlib's raw DEFLATE of `data` (no header).
std::string deflate_raw(const std::string& data, int level = 6);
// zlib's raw inflate of a whole DEFLATE stream; false when the stream is not
// valid or not complete.
bool inflate_raw(const std::string& stream, std::string* out);

// Collects everything that arrives at the read end of a pipe, on a thread of
// its own, so a writer can fill the pipe without blocking for good.
class PipeDrain {
 public:
  PipeDrain();
  ~PipeDrain() { finish(); }
  PipeDrain(const PipeDrain&) = delete;
  PipeDrain& operator=(const PipeDrain&) = delete;
  qp::Handle write_end() const { return write_end_; }
  // Closes the write end and waits for the last bytes.
  const std::string& finish();

 private:
  qp::Handle read_end_ = nullptr, write_end_ = nullptr;
  std::thread thread_;
  std::string data_;
};

// Feeds bytes into a pipe from a thread; the item reader takes them from
// read_end() and sees the end once everything was written.
class PipeFeed {
 public:
  explicit PipeFeed(std::string bytes);
  // Closing the read end first releases a writer that nobody read from.
  ~PipeFeed();
  PipeFeed(const PipeFeed&) = delete;
  PipeFeed& operator=(const PipeFeed&) = delete;
  qp::Handle read_end() const { return read_end_; }

 private:
  std::string bytes_;
  qp::Handle read_end_ = nullptr, write_end_ = nullptr;
  std::thread thread_;
};

}  // namespace testkit
