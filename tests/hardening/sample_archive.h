// A small archive made by the library's own writer, for the tests that break
// archives on purpose: a stored entry, a deflated one, a folder and an
// encrypted one, with the byte ranges of every header in it.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace hardening {

constexpr const char* kPassword = "pw";

struct SampleEntry {
  std::string name;  // as stored
  std::string data;
  bool folder;
};

struct Sample {
  std::string bytes;
  std::vector<SampleEntry> entries;  // in directory order
  // [begin, end) of each local header (with name and extra field), each
  // central header (with its variable part), and the end record.
  std::vector<std::pair<size_t, size_t>> headers;
  size_t directory_offset = 0;  // where the local section ends
};

// Builds the sample; `scale` multiplies the data sizes (1 keeps it small).
Sample make_sample(size_t scale = 1);

// The sample with its local section cut at `keep` bytes and the central
// directory moved up behind it (its offset corrected), as a transfer that
// lost the end of the entries' data would leave it.
std::string cut_inside_data(const Sample& s, size_t keep);

uint32_t get16(const std::string& b, size_t at);
uint32_t get32(const std::string& b, size_t at);

}  // namespace hardening
