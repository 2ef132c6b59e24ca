// Entries whose bytes overlap another entry's or the central directory are
// refused: the two zip-bomb constructions (many central records on one local
// header; each entry's data quoting the next entry's header and running on
// through it) write at most their one honest entry, and an entry that runs
// one byte too far is refused where one that ends exactly in time is not.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file.h"
#include "quillon.h"
#include "support/testkit.h"
#include "support/zip_builder.h"
#include "zip/api/close_handle.h"
#include "zip/read/reader.h"

using namespace quillon;

namespace {

constexpr size_t kKernel = 4u << 20;  // zeros: a few KB deflated

// Every entry of the archive at `path` through the API: described, then
// extracted to a file, to memory and to a handle. Returns the results of the
// file extractions and checks that the other two agree with them.
std::vector<ZIPRESULT> extract_each(const std::string& path, const std::string& out) {
  std::vector<ZIPRESULT> results;
  HZIP h = OpenZip(path.c_str(), nullptr);
  EXPECT_NE(h, nullptr);
  if (h == nullptr) return results;
  EXPECT_EQ(SetUnzipBaseDir(h, out.c_str()), ZIPR_OK);
  ZIPENTRY ze;
  GetZipItem(h, -1, &ze);
  const int count = ze.index;
  std::vector<char> block(kKernel + 65536);
  const std::string sink = out + "-handle";
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(GetZipItem(h, i, &ze), ZIPR_OK) << i;
    const ZIPRESULT r = UnzipItem(h, i, ze.name);
    EXPECT_EQ(lasterrorU, r);
    results.push_back(r);
    if (r != ZIPR_OK) {
      EXPECT_FALSE(testkit::exists(out + "/" + ze.name)) << i;
      EXPECT_EQ(UnzipItem(h, i, block.data(), static_cast<uint32_t>(block.size())), r) << i;
      qp::Handle dst = qp::create_exclusive(sink.c_str(), qp::kAttrNormal);
      EXPECT_EQ(UnzipItemHandle(h, i, dst), r) << i;
      qp::close_handle(dst);
      EXPECT_EQ(testkit::read_file(sink), "") << i;
    }
  }
  CloseZipU(h);
  return results;
}

}  // namespace

TEST(OverlappingEntries, FullOverlapExtractsOnlyTheFirst) {
  testkit::ScratchDir dir;
  const std::string path = dir / "full.zip";
  ASSERT_TRUE(testkit::write_file(path, ziptest::full_overlap_archive(50, kKernel)));

  const std::string out = dir / "export";
  EXPECT_EQ(UNZIP(path.c_str(), out.c_str()), 0.0);  // the refused entries fail the call
  EXPECT_EQ(testkit::tree(out), std::vector<std::string>{"full00000.bin"});
  EXPECT_EQ(testkit::read_file(out + "/full00000.bin"), std::string(kKernel, '\0'));

  const std::vector<ZIPRESULT> results = extract_each(path, dir / "api");
  ASSERT_EQ(results.size(), 50u);
  EXPECT_EQ(results[0], ZIPR_OK);
  for (size_t i = 1; i < results.size(); ++i) EXPECT_EQ(results[i], ZIPR_CORRUPT) << i;
  EXPECT_EQ(testkit::tree(dir / "api"), std::vector<std::string>{"full00000.bin"});
}

TEST(OverlappingEntries, QuotedOverlapExtractsOnlyTheLast) {
  testkit::ScratchDir dir;
  const std::string path = dir / "quoted.zip";
  ASSERT_TRUE(testkit::write_file(path, ziptest::quoted_overlap_archive(20, kKernel)));

  const std::string out = dir / "export";
  EXPECT_EQ(UNZIP(path.c_str(), out.c_str()), 0.0);  // the refused entries fail the call
  EXPECT_EQ(testkit::tree(out), std::vector<std::string>{"quoted00019.bin"});
  EXPECT_EQ(testkit::read_file(out + "/quoted00019.bin"), std::string(kKernel, '\0'));

  const std::vector<ZIPRESULT> results = extract_each(path, dir / "api");
  ASSERT_EQ(results.size(), 20u);
  for (size_t i = 0; i + 1 < results.size(); ++i) EXPECT_EQ(results[i], ZIPR_CORRUPT) << i;
  EXPECT_EQ(results.back(), ZIPR_OK);
}

// The limits themselves: an entry may end exactly where the next local
// header or the directory begins, not one byte later. The entries are
// deflated, so a compressed size one too large still inflates whole.
TEST(OverlappingEntries, AnEntryMayEndExactlyAtTheNextHeader) {
  std::vector<ziptest::Entry> entries = {{"a.txt", std::string(3000, 'a'), 8}, {"b.txt", "bbbbbbbb", 8},
                                         {"c.txt", ziptest::sample(5000), 8}};
  entries[1].descriptor = true;
  const ziptest::Layout honest = ziptest::build(entries);
  // Raises the compressed size of entry i by one, in both of its records.
  auto one_more = [&](size_t i) {
    std::string z = honest.bytes;
    const size_t central = honest.central_offsets[i] + 20, local = honest.local_offsets[i] + 18;
    testkit::put32(z, central, testkit::get32(z, central) + 1);
    if (!entries[i].descriptor) testkit::put32(z, local, testkit::get32(z, local) + 1);
    return z;
  };
  auto results = [](const std::string& z) {
    std::string got;
    HZIP h = OpenZip(z.data(), static_cast<uint32_t>(z.size()), nullptr);
    for (int i = 0; i < 3; ++i) {
      std::vector<char> block(8000);
      got += UnzipItem(h, i, block.data(), static_cast<uint32_t>(block.size())) == ZIPR_OK ? '+' : 'x';
    }
    CloseZipU(h);
    return got;
  };
  EXPECT_EQ(results(honest.bytes), "+++");
  EXPECT_EQ(results(one_more(0)), "x++");  // into b.txt's local header
  EXPECT_EQ(results(one_more(2)), "++x");  // into the central directory
  // A data descriptor counts with the entry: 12 bytes at least (its
  // signature is optional), which leaves this one 4 bytes of slack.
  std::string z = honest.bytes;
  const size_t central = honest.central_offsets[1] + 20;
  testkit::put32(z, central, testkit::get32(z, central) + 4);
  EXPECT_EQ(results(z), "+++");
  testkit::put32(z, central, testkit::get32(z, central) + 1);
  EXPECT_EQ(results(z), "+x+");
}
