// Outputs and sources of the writer, and how each failure is reported.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/file.h"
#include "support/testkit.h"
#include "support/zip_parse.h"
#include "zip/api/close_handle.h"
#include "zip/write/writer.h"

using namespace quillon;
using testkit::read_file;
using testkit::ScratchDir;
using testkit::write_file;

namespace {

const std::string kText = testkit::make_bytes(5000, 3, true);
const std::string kNoise = testkit::make_bytes(150000, 4, false);
const std::string kEmptyArchive = std::string("PK\x05\x06", 4) + std::string(18, '\0');

std::string memory_of(HZIP hz, ZIPRESULT want = ZIPR_OK) {
  void* p = nullptr;
  uint32_t n = 0;
  EXPECT_EQ(ZipGetMemory(hz, &p, &n), want);
  return p ? std::string(static_cast<char*>(p), n) : std::string();
}

void expect_items(const std::string& bytes, const std::vector<std::string>& names) {
  const ztest::Archive a = ztest::parse(bytes);
  ASSERT_EQ(a.error, "");
  std::vector<std::string> got;
  for (const ztest::Entry& e : a.entries) {
    got.push_back(e.name);
    std::string error;
    ztest::data_of(bytes, e, nullptr, &error);
    EXPECT_EQ(error, "");
  }
  EXPECT_EQ(got, names);
}

ArchiveWriter& tzip(HZIP hz) { return *static_cast<ArchiveWriter*>(hz->object); }

}  // namespace

TEST(ZipOutputs, EmptyArchiveIsTheEndRecordAlone) {
  ScratchDir dir;
  HZIP hz = CreateZip((dir / "e.zip").c_str(), nullptr);
  ASSERT_NE(hz, nullptr);
  EXPECT_EQ(CloseZipZ(hz), ZIPR_OK);
  EXPECT_EQ(read_file(dir / "e.zip"), kEmptyArchive);

  hz = CreateZip(nullptr, 1000, nullptr);  // a block the archive maps itself
  ASSERT_NE(hz, nullptr);
  EXPECT_EQ(memory_of(hz), kEmptyArchive);
  EXPECT_EQ(CloseZipZ(hz), ZIPR_OK);
}

TEST(ZipOutputs, MemoryArchiveNeedsOneSpareByte) {
  auto build = [](std::vector<char>& block, ZIPRESULT want_end) {
    HZIP hz = CreateZip(block.data(), uint32_t(block.size()), nullptr);
    EXPECT_EQ(ZipAdd(hz, "a.txt", kText.data(), uint32_t(kText.size())), ZIPR_OK);
    EXPECT_EQ(ZipAddFolder(hz, "f"), ZIPR_OK);
    const std::string bytes = memory_of(hz, want_end);
    EXPECT_EQ(CloseZipZ(hz), want_end);
    return bytes;
  };
  std::vector<char> big(1 << 16);
  const size_t size = build(big, ZIPR_OK).size();
  // A block the archive's exact size: the end record would reach its last
  // byte, so it is not written, and both GetMemory and Close say so.
  std::vector<char> exact(size);
  EXPECT_LT(build(exact, ZIPR_MEMORYFULL).size(), size);
  std::vector<char> spare(size + 1);
  const std::string bytes = build(spare, ZIPR_OK);
  EXPECT_EQ(bytes.size(), size);
  expect_items(bytes, {"a.txt", "f/"});
}

TEST(ZipOutputs, FullMemoryBlockEndsAdditionsAndKeepsEarlierItems) {
  std::vector<char> block(300);
  HZIP hz = CreateZip(block.data(), uint32_t(block.size()), nullptr);
  ASSERT_EQ(ZipAdd(hz, "x", "x", 1), ZIPR_OK);
  EXPECT_EQ(ZipAdd(hz, "noise", kNoise.data(), 1000), ZIPR_MEMORYFULL);
  EXPECT_EQ(ZipAdd(hz, "y", "y", 1), ZIPR_PREVIOUSERROR);
  // The directory goes where the bytes that fitted end.
  const std::string bytes = memory_of(hz);
  EXPECT_LT(bytes.size(), block.size());
  expect_items(bytes, {"x"});
  EXPECT_EQ(CloseZipZ(hz), ZIPR_OK);
}

TEST(ZipOutputs, HandleOutputStartsWhereTheHandleStands) {
  ScratchDir dir;
  const std::string prefix(1000, 'P');
  qp::Handle h = qp::open_read_write((dir / "sfx.bin").c_str());
  ASSERT_TRUE(qp::is_valid(h));
  uint32_t done = 0;
  ASSERT_TRUE(qp::write_file(h, prefix.data(), uint32_t(prefix.size()), &done));
  HZIP hz = CreateZipHandle(h, nullptr);
  ASSERT_NE(hz, nullptr);
  ASSERT_EQ(ZipAdd(hz, "a.txt", kText.data(), uint32_t(kText.size())), ZIPR_OK);
  ASSERT_EQ(ZipAddFolder(hz, "f"), ZIPR_OK);
  ASSERT_EQ(CloseZipZ(hz), ZIPR_OK);
  // The caller's handle stays open and the caller's.
  EXPECT_NE(qp::set_file_pointer(h, 0, qp::SeekFrom::Current), qp::kNoPosition);
  qp::close_handle(h);
  const std::string bytes = read_file(dir / "sfx.bin");
  EXPECT_EQ(bytes.substr(0, 1000), prefix);
  const ztest::Archive a = ztest::parse(bytes);
  ASSERT_EQ(a.error, "");
  ASSERT_EQ(a.entries.size(), 2u);
  EXPECT_EQ(a.entries[0].offset, 1000u);
  EXPECT_EQ(a.entries[0].flags, 0x0002);  // a file handle can seek: header rewritten
  expect_items(bytes, {"a.txt", "f/"});
}

TEST(ZipOutputs, HandleSourcesAreReadFromTheStart) {
  ScratchDir dir;
  write_file(dir / "src.txt", kText);
  qp::Handle h = qp::open_read_shared((dir / "src.txt").c_str());
  ASSERT_EQ(qp::set_file_pointer(h, 100, qp::SeekFrom::Begin), 100u);
  HZIP hz = CreateZip(nullptr, 1 << 16, nullptr);
  ASSERT_EQ(ZipAddHandle(hz, "src.txt", h), ZIPR_OK);
  const std::string bytes = memory_of(hz);
  CloseZipZ(hz);
  const ztest::Archive a = ztest::parse(bytes);
  ASSERT_EQ(a.entries.size(), 1u);
  std::string error;
  EXPECT_EQ(ztest::data_of(bytes, a.entries[0], nullptr, &error), kText);
  EXPECT_EQ(a.entries[0].external_attr, 0x81800020u);
  EXPECT_TRUE(qp::close_handle(h));  // still open: the item did not close it
}

TEST(ZipOutputs, StoredItemOfUnknownSizeCannotGoToAStream) {
  testkit::PipeDrain drain;
  HZIP hz = CreateZipHandle(drain.write_end(), nullptr);
  {
    testkit::PipeFeed feed(kText);
    EXPECT_EQ(ZipAddHandle(hz, "text.gz", feed.read_end()), ZIPR_NOCHANGE);
  }
  {
    testkit::PipeFeed feed(kText);  // announced wrongly
    EXPECT_EQ(ZipAddHandle(hz, "short.gz", feed.read_end(), 10), ZIPR_NOCHANGE);
  }
  {
    testkit::PipeFeed feed("");  // nothing delivered: size 0 was right after all
    EXPECT_EQ(ZipAddHandle(hz, "empty.gz", feed.read_end()), ZIPR_OK);
  }
  {
    testkit::PipeFeed feed(kText);
    EXPECT_EQ(ZipAddHandle(hz, "right.gz", feed.read_end(), uint32_t(kText.size())), ZIPR_OK);
  }
  // The archive goes on past the refused items, which it does not list.
  EXPECT_EQ(ZipAdd(hz, "after.txt", kText.data(), uint32_t(kText.size())), ZIPR_OK);
  ASSERT_EQ(CloseZipZ(hz), ZIPR_OK);
  expect_items(drain.finish(), {"empty.gz", "right.gz", "after.txt"});

  // An enciphered stored item needs its size in advance on any output.
  ScratchDir dir;
  hz = CreateZip((dir / "pw.zip").c_str(), "pw");
  {
    testkit::PipeFeed feed(kText);
    EXPECT_EQ(ZipAddHandle(hz, "text.gz", feed.read_end()), ZIPR_NOCHANGE);
  }
  EXPECT_EQ(CloseZipZ(hz), ZIPR_OK);
}

TEST(ZipOutputs, GetMemoryOnAFileArchiveEndsIt) {
  ScratchDir dir;
  HZIP hz = CreateZip((dir / "f.zip").c_str(), nullptr);
  ASSERT_EQ(ZipAdd(hz, "a.txt", kText.data(), uint32_t(kText.size())), ZIPR_OK);
  void* p = &dir;
  uint32_t n = 0;
  EXPECT_EQ(ZipGetMemory(hz, &p, &n), ZIPR_NOTMEMORYZIP);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(ZipAdd(hz, "b.txt", "b", 1), ZIPR_ENDED);
  EXPECT_EQ(lasterrorZ, ZIPR_ENDED);
  EXPECT_EQ(CloseZipZ(hz), ZIPR_OK);
  const std::string bytes = read_file(dir / "f.zip");
  EXPECT_EQ(bytes.size(), n);
  expect_items(bytes, {"a.txt"});
}

// An archive object that goes away without Close still lets go of its
// output: the file it created (held exclusively, so it opens again only
// once closed) and the block it mapped (mapped again and again here, more
// than a 32-bit process can hold at once).
TEST(ZipOutputs, AnArchiveDestroyedUnclosedReleasesItsOutput) {
  ScratchDir dir;
  const std::string path = dir / "u.zip";
  {
    ArchiveWriter zip(nullptr);
    ASSERT_EQ(zip.Create(const_cast<char*>(path.c_str()), 0, ZIPSRC_FILENAME), ZIPR_OK);
    ASSERT_EQ(zip.Add("a.txt", kText.data(), uint32_t(kText.size()), ZIPSRC_MEMORY), ZIPR_OK);
  }
  qp::Handle h = qp::open_read_shared(path.c_str());
  EXPECT_TRUE(qp::is_valid(h));
  if (qp::is_valid(h)) qp::close_handle(h);

  for (int i = 0; i < 40; ++i) {
    ArchiveWriter zip(nullptr);
    ASSERT_EQ(zip.Create(nullptr, 128u << 20, ZIPSRC_MEMORY), ZIPR_OK) << "round " << i;
    void* p = nullptr;
    uint32_t n = 0;
    ASSERT_EQ(zip.GetMemory(&p, &n), ZIPR_OK);
    EXPECT_EQ(std::string(static_cast<char*>(p), n), kEmptyArchive);
  }
}

TEST(ZipOutputs, WriteFailuresAreReportedByTheItemAndByClose) {
  ScratchDir dir;
  write_file(dir / "ro.bin", "");
  // A handle that can seek but not write.
  qp::Handle ro = qp::open_read_shared((dir / "ro.bin").c_str());
  HZIP hz = CreateZipHandle(ro, nullptr);
  ASSERT_NE(hz, nullptr);
  EXPECT_EQ(ZipAdd(hz, "a.txt", kText.data(), uint32_t(kText.size())), ZIPR_WRITEFAILED);
  EXPECT_EQ(ZipAdd(hz, "b.txt", kText.data(), uint32_t(kText.size())), ZIPR_PREVIOUSERROR);
  EXPECT_EQ(CloseZipZ(hz), ZIPR_WRITEFAILED);
  qp::close_handle(ro);

  // A stream whose reader has gone.
  qp::Handle r = nullptr, w = nullptr;
  ASSERT_TRUE(qp::create_pipe(&r, &w));
  qp::close_handle(r);
  hz = CreateZipHandle(w, nullptr);
  EXPECT_EQ(ZipAddFolder(hz, "f"), ZIPR_WRITEFAILED);
  EXPECT_EQ(CloseZipZ(hz), ZIPR_WRITEFAILED);
  qp::close_handle(w);
}

TEST(ZipOutputs, SourceReadErrorFailsTheItem) {
  ScratchDir dir;
  qp::Handle write_only = qp::create_exclusive((dir / "w.bin").c_str(), qp::kAttrNormal);
  uint32_t done = 0;
  qp::write_file(write_only, kText.data(), uint32_t(kText.size()), &done);
  HZIP hz = CreateZip((dir / "r.zip").c_str(), nullptr);
  EXPECT_EQ(ZipAddHandle(hz, "w.bin", write_only), ZIPR_READFAILED);
  EXPECT_EQ(ZipAdd(hz, "ok.txt", "ok", 2), ZIPR_OK);
  EXPECT_EQ(CloseZipZ(hz), ZIPR_OK);
  qp::close_handle(write_only);
  expect_items(read_file(dir / "r.zip"), {"ok.txt"});
}

// Zip64 records where, and only where, a value passes the classic fields:
// here their range is lowered to 100,000 bytes so that small items show it.
TEST(ZipOutputs, ValuesPastTheClassicFieldsGoIntoZip64Records) {
  ScratchDir dir;
  const std::string noise60 = kNoise.substr(0, 60000);
  {
    HZIP hz = CreateZip((dir / "f.zip").c_str(), nullptr);
    tzip(hz).set_size_limit(100000);
    ASSERT_EQ(ZipAdd(hz, "a.txt", kText.data(), uint32_t(kText.size())), ZIPR_OK);
    ASSERT_EQ(ZipAdd(hz, "big.gz", kNoise.data(), uint32_t(kNoise.size())), ZIPR_OK);
    ASSERT_EQ(ZipAdd(hz, "n1.bin", noise60.data(), uint32_t(noise60.size())), ZIPR_OK);
    {
      // Of unknown size, an item has no Zip64 block in its local header: one
      // that grows past the fields is given up and the archive goes on.
      testkit::PipeFeed feed(kNoise);
      EXPECT_EQ(ZipAddHandle(hz, "pipe.bin", feed.read_end()), ZIPR_WRITEFAILED);
    }
    ASSERT_EQ(ZipAdd(hz, "b.txt", kText.data(), uint32_t(kText.size())), ZIPR_OK);
    EXPECT_EQ(CloseZipZ(hz), ZIPR_OK);
    const std::string bytes = read_file(dir / "f.zip");
    expect_items(bytes, {"a.txt", "big.gz", "n1.bin", "b.txt"});
    const ztest::Archive a = ztest::parse(bytes);
    ASSERT_EQ(a.entries.size(), 4u);
    // Everything fits: a classic record.
    const ztest::Entry& small = a.entries[0];
    EXPECT_EQ(small.needed, 20);
    EXPECT_EQ(small.l_needed, 20);
    EXPECT_EQ(small.central_extra.size(), 9u);
    EXPECT_EQ(small.local_extra.size(), 17u);
    // Sizes past the fields: both sizes in Zip64 blocks, local and central,
    // ahead of the timestamp block.
    const ztest::Entry& big = a.entries[1];
    EXPECT_EQ(big.needed, 45);
    EXPECT_EQ(big.l_needed, 45);
    EXPECT_EQ(big.raw_usize, 0xFFFFFFFFu);
    EXPECT_EQ(big.raw_csize, 0xFFFFFFFFu);
    EXPECT_EQ(big.l_raw_usize, 0xFFFFFFFFu);
    EXPECT_EQ(big.zip64, (std::vector<uint64_t>{kNoise.size(), kNoise.size()}));
    EXPECT_EQ(big.l_zip64, big.zip64);
    EXPECT_EQ(big.central_extra.substr(20, 2), "UT");
    EXPECT_EQ(big.local_extra.substr(20, 2), "UT");
    EXPECT_EQ(big.raw_offset, big.offset);
    // A local header past the fields: its offset alone in the central block.
    const ztest::Entry& far = a.entries[2];
    EXPECT_EQ(far.needed, 45);
    EXPECT_EQ(far.l_needed, 45);
    EXPECT_EQ(far.raw_offset, 0xFFFFFFFFu);
    EXPECT_GT(far.offset, 100000u);
    EXPECT_EQ(far.zip64, std::vector<uint64_t>{far.offset});
    EXPECT_EQ(far.raw_csize, far.csize);
    EXPECT_TRUE(far.l_zip64.empty());
    EXPECT_EQ(far.local_extra.size(), 17u);
    // The directory starts past the fields: the Zip64 end record says where.
    ASSERT_TRUE(a.has_zip64_end);
    EXPECT_EQ(a.raw_cd_offset, 0xFFFFFFFFu);
    EXPECT_EQ(a.raw_cd_size, a.cd_size);
    EXPECT_EQ(a.count_total, 4u);
    EXPECT_EQ(a.zip64_count_total, 4u);
  }
  {
    // On a stream, a Zip64 local header is followed by a descriptor with
    // 8-byte sizes.
    testkit::PipeDrain drain;
    HZIP hz = CreateZipHandle(drain.write_end(), nullptr);
    tzip(hz).set_size_limit(100000);
    ASSERT_EQ(ZipAdd(hz, "big.bin", kNoise.data(), uint32_t(kNoise.size())), ZIPR_OK);
    ASSERT_EQ(ZipAdd(hz, "after.txt", "after", 5), ZIPR_OK);
    EXPECT_EQ(CloseZipZ(hz), ZIPR_OK);
    const std::string bytes = drain.finish();
    expect_items(bytes, {"big.bin", "after.txt"});
    const ztest::Archive a = ztest::parse(bytes);
    ASSERT_EQ(a.entries.size(), 2u);
    const ztest::Entry& big = a.entries[0];
    EXPECT_EQ(big.l_flags, 0x0008);
    EXPECT_EQ(big.l_zip64, (std::vector<uint64_t>{kNoise.size(), 0}));
    ASSERT_TRUE(big.has_descriptor);
    EXPECT_EQ(big.d_usize, kNoise.size());
    EXPECT_EQ(big.d_csize, big.csize);
    EXPECT_EQ(big.d_crc, big.crc);
    EXPECT_EQ(a.entries[1].offset, big.data_pos + big.csize + 24);
    EXPECT_EQ(a.entries[1].raw_offset, 0xFFFFFFFFu);
  }
  {
    // An item of unknown size that grows past the fields on a stream: as
    // nothing can be taken back, the archive is failed.
    testkit::PipeDrain drain;
    HZIP hz = CreateZipHandle(drain.write_end(), nullptr);
    tzip(hz).set_size_limit(100000);
    ASSERT_EQ(ZipAdd(hz, "n1.bin", noise60.data(), uint32_t(noise60.size())), ZIPR_OK);
    {
      testkit::PipeFeed feed(kNoise);
      EXPECT_EQ(ZipAddHandle(hz, "pipe.bin", feed.read_end()), ZIPR_WRITEFAILED);
    }
    EXPECT_EQ(ZipAdd(hz, "b.txt", "b", 1), ZIPR_PREVIOUSERROR);
    EXPECT_EQ(CloseZipZ(hz), ZIPR_WRITEFAILED);
  }
}

TEST(ZipOutputs, CreateAndAddArgumentFailures) {
  ScratchDir dir;
  EXPECT_EQ(CreateZip(nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(lasterrorZ, ZIPR_MEMORYFULL);
  EXPECT_EQ(CreateZipInternal(nullptr, 0, 9, nullptr), nullptr);
  EXPECT_EQ(lasterrorZ, ZIPR_BADARGS);
  // A handle is taken without a test: a null one fails at its first write.
  HZIP null_output = CreateZipHandle(nullptr, nullptr);
  ASSERT_NE(null_output, nullptr);
  EXPECT_EQ(lasterrorZ, ZIPR_OK);
  EXPECT_EQ(ZipAdd(null_output, "a.txt", kText.data(), uint32_t(kText.size())), ZIPR_WRITEFAILED);
  EXPECT_NE(CloseZipZ(null_output), ZIPR_OK);
  EXPECT_EQ(CreateZip((dir / "missing/a.zip").c_str(), nullptr), nullptr);
  EXPECT_EQ(lasterrorZ, ZIPR_OPENFAILED);
  EXPECT_EQ(CreateZip(static_cast<const char*>(nullptr), nullptr), nullptr);
  EXPECT_EQ(lasterrorZ, ZIPR_OPENFAILED);

  ArchiveWriter twice(nullptr);
  std::vector<char> block(100);
  ASSERT_EQ(twice.Create(block.data(), 100, ZIPSRC_MEMORY), ZIPR_OK);
  EXPECT_EQ(twice.Create(block.data(), 100, ZIPSRC_MEMORY), ZIPR_NOTINITIALISED);
  twice.Close();

  HZIP hz = CreateZip((dir / "a.zip").c_str(), nullptr);
  ASSERT_NE(hz, nullptr);
  EXPECT_EQ(ZipAddInternal(hz, "x", "x", 1, 7), ZIPR_BADARGS);
  EXPECT_EQ(ZipAdd(hz, "x", (dir / "missing.txt").c_str()), ZIPR_OPENFAILED);
  EXPECT_EQ(ZipAdd(hz, "x", dir.path().c_str()), ZIPR_OPENFAILED);  // a folder
  EXPECT_EQ(ZipAdd(hz, "x", (dir / "a.zip").c_str()), ZIPR_OPENFAILED);  // the archive itself
  EXPECT_EQ(ZipAdd(hz, "x", static_cast<const char*>(nullptr)), ZIPR_BADARGS);
  EXPECT_EQ(ZipAdd(hz, "x", static_cast<const void*>(nullptr), 5), ZIPR_BADARGS);
  EXPECT_EQ(ZipAdd(hz, "x", "x", 0), ZIPR_BADARGS);
  EXPECT_EQ(ZipAddHandle(hz, "x", nullptr), ZIPR_BADARGS);
  EXPECT_EQ(ZipAddHandle(hz, "x", qp::kInvalidHandle), ZIPR_BADARGS);
  // None of them wrote anything or spoiled the archive.
  EXPECT_EQ(ZipAdd(hz, "ok", "ok", 2), ZIPR_OK);
  EXPECT_EQ(CloseZipZ(hz), ZIPR_OK);
  expect_items(read_file(dir / "a.zip"), {"ok"});
}
