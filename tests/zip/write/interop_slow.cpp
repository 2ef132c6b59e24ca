// The large cases, written into ./zipwriter_interop_slow for
// check_interop.py as interop_write does for the small ones:
// - big.zip: a file of 4.5 GiB of zeros, deflated and then stored, so that
//   items pass 4 GiB and later local headers and the directory lie past it
//   (Zip64 sizes, offsets and end record);
// - many.zip: a folder of 70,000 files packed by ZIP (Zip64 end record).
// Both also come back whole through UNZIP.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "quillon.h"
#include "platform/file.h"
#include "support/testkit.h"
#include "zip/api/close_handle.h"
#include "zip/format/records.h"
#include "zip/write/writer.h"

using namespace quillon;
namespace fs = std::filesystem;

namespace {

const std::string kOut = "zipwriter_interop_slow/";
constexpr uint64_t kBig = 4608ull << 20;  // 4.5 GiB
constexpr unsigned kMany = 70000;

void write_info(const std::string& name) { testkit::write_file(kOut + name + ".info", "-\n\n"); }

// True when the file holds `size` zero bytes.
bool all_zeros(const std::string& path, uint64_t size) {
  std::error_code ec;
  if (fs::file_size(path, ec) != size || ec) return false;
  qp::Handle h = qp::open_read_shared(path.c_str());
  if (!qp::is_valid(h)) return false;
  std::string buf(1 << 20, '\0');
  uint64_t total = 0;
  uint32_t got = 0;
  bool zeros = true;
  while (zeros && qp::read_file(h, &buf[0], uint32_t(buf.size()), &got) && got > 0) {
    total += got;
    zeros = buf.find_first_not_of('\0') >= got;
  }
  qp::close_handle(h);
  return zeros && total == size;
}

class Folder : public testing::Environment {
 public:
  void SetUp() override {
    std::error_code ec;
    fs::remove_all("zipwriter_interop_slow", ec);
    fs::create_directory("zipwriter_interop_slow", ec);
  }
};
const testing::Environment* const kFolder = testing::AddGlobalTestEnvironment(new Folder);

}  // namespace

TEST(InteropSlow, ItemsAndOffsetsPast4GiB) {
  const std::string ex = kOut + "big.expected/";
  fs::create_directory(ex);
  for (const char* n : {"zeros.bin", "zeros.gz"}) {
    testkit::write_file(ex + n, "");
    std::error_code ec;
    fs::resize_file(ex + n, kBig, ec);  // sparse where the file system can
    ASSERT_FALSE(ec) << ec.message();
  }
  testkit::write_file(ex + "after.txt", "after 9 GiB");
  HZIP hz = CreateZip((kOut + "big.zip").c_str(), nullptr);
  ASSERT_NE(hz, nullptr);
  ASSERT_EQ(ZipAdd(hz, "zeros.bin", (ex + "zeros.bin").c_str()), ZIPR_OK);  // deflated
  ASSERT_EQ(ZipAdd(hz, "zeros.gz", (ex + "zeros.gz").c_str()), ZIPR_OK);    // stored
  ASSERT_EQ(ZipAdd(hz, "after.txt", (ex + "after.txt").c_str()), ZIPR_OK);
  ASSERT_EQ(CloseZipZ(hz), ZIPR_OK);
  EXPECT_GT(fs::file_size(kOut + "big.zip"), kBig);
  write_info("big");

  const std::string out = kOut + "unzipped_big";
  EXPECT_EQ(UNZIP((kOut + "big.zip").c_str(), out.c_str()), 1.0);
  EXPECT_TRUE(all_zeros(out + "/zeros.bin", kBig));
  EXPECT_TRUE(all_zeros(out + "/zeros.gz", kBig));
  EXPECT_EQ(testkit::read_file(out + "/after.txt"), "after 9 GiB");
  std::error_code ec;
  fs::remove_all(out, ec);
}

TEST(InteropSlow, ExportPacksSeventyThousandFiles) {
#ifdef _WIN32
  // Under Wine each file costs tens of milliseconds to create, list and
  // extract, so the folder alone would take well over an hour. The Windows
  // build's Zip64 end record for 70,000 items is checked by the in-memory
  // round trip instead.
  GTEST_SKIP() << "70,000 files are too slow to make under Wine";
#endif
  const std::string ex = kOut + "many.expected/";
  fs::create_directory(ex);
  char name[32];
  for (unsigned i = 0; i < kMany; ++i) {
    std::snprintf(name, sizeof name, "f%05u.txt", i);
    ASSERT_TRUE(testkit::write_file(ex + name, name)) << name;
  }
  const std::string back = testkit::current_dir();
  ASSERT_EQ(CD(ex.c_str()), 1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(ZIP("../many.zip", "."), 1.0);
  const std::string printed = testing::internal::GetCapturedStdout();
  CD(back.c_str());
  size_t lines = 0;
  for (char c : printed) lines += c == '\n';
  EXPECT_EQ(lines, kMany + 2u);  // with "." and ".."
  write_info("many");

  const std::string out = kOut + "unzipped_many/";
  EXPECT_EQ(UNZIP((kOut + "many.zip").c_str(), out.c_str()), 1.0);
  unsigned found = 0;
  for (unsigned i = 0; i < kMany; ++i) {
    std::snprintf(name, sizeof name, "f%05u.txt", i);
    found += testkit::read_file(out + name) == name;
  }
  EXPECT_EQ(found, kMany);
  std::error_code ec;
  fs::remove_all(out, ec);
}
