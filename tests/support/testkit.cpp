#include "support/testkit.h"

#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/dir.h"
#include "platform/file.h"
#include "platform/fileinfo.h"

namespace testkit {

namespace {

// Read-only files would stop a scratch folder from going away on Windows.
// Links are left alone: their targets may lie outside the folder.
void make_writable(const std::string& dir) {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    std::error_code ignored;
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add | fs::perm_options::nofollow,
                    ignored);
  }
}

void list_tree(const std::string& dir, const std::string& rel, std::vector<std::string>* out) {
  for (const std::string& n : entry_names(dir)) {
    const std::string child = dir + "/" + n;
    if (is_directory(child)) {
      out->push_back(rel + n + "/");
      list_tree(child, rel + n + "/", out);
    } else {
      out->push_back(rel + n);
    }
  }
}

}  // namespace

ScratchDir::ScratchDir() : path_(qp::make_temp_directory("qtest-")), saved_cwd_(current_dir()) {}

ScratchDir::~ScratchDir() {
  qp::change_directory(saved_cwd_.c_str());
  if (!path_.empty()) {
    make_writable(path_);
    remove_tree(path_.substr(0, path_.size() - 1));
  }
}

bool write_file(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(f);
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool exists(const std::string& path) { return qp::get_file_attributes(path.c_str()) != qp::kNoPosition; }

bool is_directory(const std::string& path) {
  uint32_t a = qp::get_file_attributes(path.c_str());
  return a != qp::kNoPosition && (a & qp::kAttrDirectory);
}

std::string current_dir() {
  char buf[4096];
  qp::current_directory(sizeof buf, buf);
  return buf;
}

void remove_tree(const std::string& path) {
  for (const std::string& n : entry_names(path)) {
    std::string child = path + "/" + n;
    if (is_directory(child)) {
      remove_tree(child);
    } else {
      qp::delete_file(child.c_str());
    }
  }
  qp::remove_directory(path.c_str());
}

std::vector<std::string> entry_names(const std::string& dir) {
  std::vector<std::string> names;
  if (qp::Listing* l = qp::open_listing(dir.c_str())) {
    while (const char* n = qp::next_entry(l)) {
      const std::string s = n;
      if (s != "." && s != "..") names.push_back(s);
    }
    qp::close_listing(l);
  }
  return names;
}

std::vector<std::string> tree(const std::string& dir) {
  std::vector<std::string> out;
  list_tree(dir, "", &out);
  return out;
}

bool file_info(const std::string& path, qp::FileInfo* info) {
  qp::Handle h = qp::open_read_shared(path.c_str());
  if (!qp::is_valid(h)) return false;
  const bool ok = qp::get_file_info(h, info);
  qp::close_handle(h);
  return ok;
}

std::string read_utf8(const std::string& path) {
  std::string bytes;
  qp::Handle h = qp::open_read_shared_utf8(path.c_str());
  if (!qp::is_valid(h)) return "<missing>";
  char buf[65536];
  uint32_t got = 0;
  while (qp::read_file(h, buf, sizeof buf, &got) && got > 0) bytes.append(buf, got);
  qp::close_handle(h);
  return bytes;
}

bool exists_utf8(const std::string& path) { return qp::get_file_attributes_utf8(path.c_str()) != qp::kNoPosition; }

bool file_info_utf8(const std::string& path, qp::FileInfo* info) {
  qp::Handle h = qp::open_read_shared_utf8(path.c_str());
  if (!qp::is_valid(h)) return false;
  const bool ok = qp::get_file_info(h, info);
  qp::close_handle(h);
  return ok;
}

std::vector<std::string> tree_utf8(const std::string& dir) {
  namespace fs = std::filesystem;
  const fs::path root = fs::u8path(dir);
  std::vector<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    std::string rel = it->path().lexically_relative(root).generic_u8string();
    if (it->is_directory()) rel += "/";
    out.push_back(rel);
  }
  return out;
}

uint32_t get16(const unsigned char* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t get32(const unsigned char* p) { return get16(p) | get16(p + 2) << 16; }
uint64_t get64(const unsigned char* p) { return get32(p) | uint64_t(get32(p + 4)) << 32; }

uint32_t get16(const std::string& s, size_t at) { return get16(reinterpret_cast<const unsigned char*>(s.data()) + at); }
uint32_t get32(const std::string& s, size_t at) { return get32(reinterpret_cast<const unsigned char*>(s.data()) + at); }
uint64_t get64(const std::string& s, size_t at) { return get64(reinterpret_cast<const unsigned char*>(s.data()) + at); }

void put16(std::string& s, size_t at, uint16_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>(v >> 8);
}

void put32(std::string& s, size_t at, uint32_t v) {
  put16(s, at, static_cast<uint16_t>(v));
  put16(s, at + 2, static_cast<uint16_t>(v >> 16));
}

std::string make_bytes(size_t n, uint32_t seed, bool text) {
  static const char* const words[] = {"alpha ", "beta ", "gamma\n", "delta ", "zip ", "archive ", "0123 "};
  std::string s;
  s.reserve(n);
  uint32_t x = seed * 2654435761u + 1;
  while (s.size() < n) {
    x = x * 1103515245u + 12345u;
    if (text) {
      s += words[(x >> 16) % 7];
    } else {
      s += static_cast<char>(x >> 23);
    }
  }
  s.resize(n);
  return s;
}

std::string deflate_raw(const std::string& data, int level) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

bool inflate_raw(const std::string& stream, std::string* out) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  out->clear();
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
  z.avail_in = static_cast<uInt>(stream.size());
  char chunk[65536];
  int rc;
  do {
    z.next_out = reinterpret_cast<Bytef*>(chunk);
    z.avail_out = sizeof chunk;
    rc = inflate(&z, Z_NO_FLUSH);
    out->append(chunk, sizeof chunk - z.avail_out);
  } while (rc == Z_OK);
  const bool ok = rc == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  return ok;
}

PipeDrain::PipeDrain() {
  qp::create_pipe(&read_end_, &write_end_);
  thread_ = std::thread([this] {
    char buf[8192];
    uint32_t got = 0;
    while (qp::read_file(read_end_, buf, sizeof buf, &got) && got > 0) data_.append(buf, got);
  });
}

const std::string& PipeDrain::finish() {
  if (write_end_) {
    qp::close_handle(write_end_);
    write_end_ = nullptr;
  }
  if (thread_.joinable()) thread_.join();
  if (read_end_) {
    qp::close_handle(read_end_);
    read_end_ = nullptr;
  }
  return data_;
}

PipeFeed::PipeFeed(std::string bytes) : bytes_(std::move(bytes)) {
  qp::create_pipe(&read_end_, &write_end_);
  thread_ = std::thread([this] {
    uint32_t done = 0;
    if (!bytes_.empty()) qp::write_file(write_end_, bytes_.data(), static_cast<uint32_t>(bytes_.size()), &done);
    qp::close_handle(write_end_);
  });
}

PipeFeed::~PipeFeed() {
  qp::close_handle(read_end_);
  if (thread_.joinable()) thread_.join();
}

}  // namespace testkit
