// Helpers shared by the archive-writer tests.
#pragma once
#include <cstdint>
#include <string>
#include <thread>

#include "platform/file.h"

namespace ztest {

// Deterministic bytes: text-like when `text`, otherwise noise.
inline std::string make_bytes(size_t n, uint32_t seed, bool text) {
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

// Collects everything that arrives at the read end of a pipe, on a thread of
// its own, so a writer can fill the pipe without blocking for good.
class PipeDrain {
 public:
  PipeDrain() {
    qp::create_pipe(&read_end_, &write_end_);
    thread_ = std::thread([this] {
      char buf[8192];
      uint32_t got = 0;
      while (qp::read_file(read_end_, buf, sizeof buf, &got) && got > 0) data_.append(buf, got);
    });
  }
  ~PipeDrain() { finish(); }
  qp::Handle write_end() const { return write_end_; }
  // Closes the write end and waits for the last bytes.
  const std::string& finish() {
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

 private:
  qp::Handle read_end_ = nullptr, write_end_ = nullptr;
  std::thread thread_;
  std::string data_;
};

// Feeds bytes into a pipe from a thread; the item reader takes them from
// read_end() and sees the end once everything was written.
class PipeFeed {
 public:
  explicit PipeFeed(std::string bytes) : bytes_(std::move(bytes)) {
    qp::create_pipe(&read_end_, &write_end_);
    thread_ = std::thread([this] {
      uint32_t done = 0;
      if (!bytes_.empty()) qp::write_file(write_end_, bytes_.data(), static_cast<uint32_t>(bytes_.size()), &done);
      qp::close_handle(write_end_);
    });
  }
  // Closing the read end first releases a writer that nobody read from.
  ~PipeFeed() {
    qp::close_handle(read_end_);
    if (thread_.joinable()) thread_.join();
  }
  qp::Handle read_end() const { return read_end_; }

 private:
  std::string bytes_;
  qp::Handle read_end_ = nullptr, write_end_ = nullptr;
  std::thread thread_;
};

}  // namespace ztest
