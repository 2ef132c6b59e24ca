// Round trips of the common benchmark corpus: every file at level 8 whole,
// and the first 512 KiB of every file at levels 1 to 7. The corpus folder is
// QUILLON_CORPUS, or build/corpus under the source tree; without it the
// cases are skipped, and so is the program as CTest reports it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "test_deflate_support.h"

using namespace deflate_test;

namespace {

const char* const kCorpusFiles[] = {"gen_orders.csv", "gen_logs.jsonl",  "gen_random.bin",
                                    "gen_runs.bin",   "perl_modules.txt", "licenses.txt",
                                    "manual.txt",     "cmake.elf",       "libstdcxx.so"};

std::string corpus_dir() {
  const char* env = std::getenv("QUILLON_CORPUS");
  std::string dir = env && *env ? env : QUILLON_SOURCE_DIR "/build/corpus";
  if (dir.back() != '/') dir += '/';
  return dir;
}

bool load(const std::string& path, Bytes* data) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  data->clear();
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data->append(buf, n);
  std::fclose(f);
  return true;
}

}  // namespace

class DeflateCorpus : public ::testing::TestWithParam<const char*> {};

TEST_P(DeflateCorpus, RoundTripsAtEveryLevel) {
  Bytes data;
  if (!load(corpus_dir() + GetParam(), &data)) {
    // CTest reports the program as skipped on the first message, which only a
    // missing folder gives: then no case can have run.
    if (!std::filesystem::is_directory(corpus_dir())) GTEST_SKIP() << "no corpus at " << corpus_dir();
    GTEST_SKIP() << GetParam() << " is missing from the corpus at " << corpus_dir();
  }
  auto state = std::make_unique<quillon::DeflateState>();
  for (int level = 8; level >= 1; level--) {
    const Bytes input = level == 8 ? data : data.substr(0, 512 * 1024);
    Result r = compress(*state, input, Options{level});
    EXPECT_EQ(r.failed_check, nullptr) << "level " << level;
    EXPECT_EQ(r.returned, r.stream.size());
    Bytes out;
    ASSERT_TRUE(inflate_raw(r.stream, &out)) << "level " << level;
    ASSERT_TRUE(out == input) << "level " << level;
  }
}

INSTANTIATE_TEST_SUITE_P(Files, DeflateCorpus, ::testing::ValuesIn(kCorpusFiles),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });
