// Faults of the system under the archive code and the byte loops: outputs
// that refuse bytes (/dev/full, a pipe nobody reads), sources that deliver
// less than they announced, and archives that lose their bytes while open.
// Every call must return a failure code, nothing may crash or hang, and no
// result may claim success for data that was lost.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/file.h"
#include "platform/file_end.h"
#include "quillon.h"
#include "support/testkit.h"
#include "support/zip_builder.h"
#include "zip/api/close_handle.h"
#include "zip/read/reader.h"
#include "zip/write/writer.h"

using namespace quillon;
using testkit::ScratchDir;

namespace {

const std::string kText = testkit::make_bytes(50000, 7, true);
const std::string kNoise = testkit::make_bytes(300000, 9, false);

// The items of an archive as the reader lists them, each extracted whole.
std::vector<std::pair<std::string, std::string>> read_back(const std::string& bytes) {
  std::vector<std::pair<std::string, std::string>> items;
  HZIP h = OpenZip(bytes.data(), static_cast<uint32_t>(bytes.size()), nullptr);
  if (h == nullptr) return items;
  ZIPENTRY ze;
  GetZipItem(h, -1, &ze);
  for (int i = 0, n = ze.index; i < n; ++i) {
    if (GetZipItem(h, i, &ze) != ZIPR_OK) break;
    std::vector<char> data(ze.uncompressed_size + 1);
    const ZIPRESULT r = UnzipItem(h, i, data.data(), static_cast<uint32_t>(data.size()));
    items.emplace_back(ze.name, r == ZIPR_OK ? std::string(data.data(), ze.uncompressed_size)
                                             : "<" + std::to_string(r) + ">");
  }
  CloseZipU(h);
  return items;
}

// Adds items of every kind to an archive whose output fails at once: each
// add reports a failure, the first one the write failure itself.
void expect_every_add_fails(HZIP hz) {
  ASSERT_NE(hz, nullptr);
  EXPECT_EQ(ZipAdd(hz, "text.txt", kText.data(), uint32_t(kText.size())), ZIPR_WRITEFAILED);
  EXPECT_EQ(ZipAdd(hz, "stored.zip", kText.data(), uint32_t(kText.size())), ZIPR_PREVIOUSERROR);
  EXPECT_EQ(ZipAddFolder(hz, "folder"), ZIPR_PREVIOUSERROR);
  EXPECT_NE(CloseZipZ(hz), ZIPR_OK);
}

}  // namespace

#ifndef _WIN32
TEST(FaultyOutputs, ArchivesToDevFull) {
  // By name, as a handle, and with a password (a data descriptor on every
  // item): every add fails, and so does the close.
  expect_every_add_fails(CreateZip("/dev/full", nullptr));
  expect_every_add_fails(CreateZip("/dev/full", "pw"));
  qp::Handle h = qp::open_read_write("/dev/full");
  ASSERT_TRUE(qp::is_valid(h));
  expect_every_add_fails(CreateZipHandle(h, nullptr));
  qp::close_handle(h);

  // An archive that fails only at its central directory: Close reports it.
  h = qp::open_read_write("/dev/full");
  HZIP hz = CreateZipHandle(h, nullptr);
  EXPECT_EQ(ZipAdd(hz, "a", "", 0), ZIPR_BADARGS);  // nothing written yet
  EXPECT_NE(CloseZipZ(hz), ZIPR_OK);
  qp::close_handle(h);

  // The ZIP export to /dev/full fails, and the device is no file of its own
  // to take away.
  ScratchDir dir;
  ASSERT_TRUE(testkit::write_file(dir / "a.txt", kText));
  CD(dir.path().c_str());
  EXPECT_EQ(ZIP("/dev/full", "."), 0);
  EXPECT_TRUE(testkit::exists("/dev/full"));
}

TEST(FaultyOutputs, ExtractionToDevFull) {
  const ziptest::Sample s = ziptest::make_sample(100);
  HZIP h = OpenZip(s.bytes.data(), static_cast<uint32_t>(s.bytes.size()), ziptest::kPassword);
  ASSERT_NE(h, nullptr);
  qp::Handle full = qp::open_read_write("/dev/full");
  for (int i : {0, 1, 3}) EXPECT_EQ(UnzipItemHandle(h, i, full), ZIPR_WRITEFAILED) << i;
  qp::close_handle(full);
  for (int i : {0, 1, 3}) EXPECT_EQ(UnzipItem(h, i, "/dev/full"), ZIPR_WRITEFAILED) << i;
  CloseZipU(h);
}

TEST(FaultyOutputs, ByteLoopsToDevFullReturn) {
  // Write errors are not detected by design: the loops run to their end and
  // report as if the bytes had gone out, without hanging or crashing.
  ScratchDir dir;
  const std::string src = dir / "src", key = dir / "key";
  ASSERT_TRUE(testkit::write_file(src, kNoise));
  ASSERT_TRUE(testkit::write_file(key, kText));
  EXPECT_EQ(T2GMT(src.c_str(), "/dev/full"), 1);
  EXPECT_EQ(QCRYPT_encrypt(src.c_str(), "/dev/full", key.c_str()), 1);
  EXPECT_EQ(QCRYPT_encrypt2(src.c_str(), "/dev/full", key.c_str(), key.c_str()), 1);
  EXPECT_EQ(QCRYPT_decrypt("/dev/full", src.c_str(), key.c_str()), 1);
  EXPECT_EQ(QCRYPT_combineKeys2("/dev/full", src.c_str(), key.c_str()), 1);
  EXPECT_EQ(QCRYPT_makeKeys(src.c_str(), "/dev/full", (dir / "k2").c_str(), "abcd"), double(kNoise.size() + 1));
  EXPECT_EQ(QCRYPT_combineKeys("/dev/full", src.c_str(), key.c_str(), "abcd"), double(kNoise.size() + 1));
}
#endif

TEST(FaultyOutputs, PipeWhoseReaderClosedFirst) {
  // No SIGPIPE ends the process; every call reports the failure.
  qp::Handle r = nullptr, w = nullptr;
  ASSERT_TRUE(qp::create_pipe(&r, &w));
  qp::close_handle(r);
  expect_every_add_fails(CreateZipHandle(w, nullptr));
  expect_every_add_fails(CreateZipHandle(w, "pw"));

  const ziptest::Sample s = ziptest::make_sample(100);
  HZIP h = OpenZip(s.bytes.data(), static_cast<uint32_t>(s.bytes.size()), ziptest::kPassword);
  for (int i : {0, 1, 3}) EXPECT_EQ(UnzipItemHandle(h, i, w), ZIPR_WRITEFAILED) << i;
  EXPECT_EQ(UnzipItemHandle(h, 2, w), ZIPR_OK);  // a folder writes nothing
  CloseZipU(h);
  qp::close_handle(w);
}

TEST(FaultyOutputs, PipeWhoseReaderLeavesInTheMiddle) {
  // The reader takes the first item's bytes and goes; the big item that
  // follows fails, and so does everything after it.
  qp::Handle r = nullptr, w = nullptr;
  ASSERT_TRUE(qp::create_pipe(&r, &w));
  std::string taken;
  // The first item: a local header with "first/" and its timestamp block,
  // then a data descriptor. A pipe read may deliver less than it asked for.
  constexpr size_t first_item = 30 + 6 + 17 + 16;
  std::thread reader([&] {
    char buf[first_item];
    uint32_t got = 0;
    while (taken.size() < first_item &&
           qp::read_file(r, buf, static_cast<uint32_t>(first_item - taken.size()), &got) && got > 0)
      taken.append(buf, got);
    qp::close_handle(r);
  });
  HZIP hz = CreateZipHandle(w, nullptr);
  EXPECT_EQ(ZipAddFolder(hz, "first"), ZIPR_OK);
  reader.join();
  EXPECT_EQ(taken.size(), first_item);
  EXPECT_EQ(taken.compare(0, 4, "PK\x03\x04"), 0);
  EXPECT_EQ(ZipAdd(hz, "noise.bin", kNoise.data(), uint32_t(kNoise.size())), ZIPR_WRITEFAILED);
  EXPECT_EQ(ZipAddFolder(hz, "last"), ZIPR_PREVIOUSERROR);
  EXPECT_NE(CloseZipZ(hz), ZIPR_OK);
  qp::close_handle(w);
}

TEST(ShrinkingSources, PipeDeliversLessThanAnnounced) {
  // An item announced with a length and cut short: the item reports the
  // loss and is not listed; the archive around it stays sound.
  for (const char* name : {"short.txt", "short.zip"}) {
    std::vector<char> block(1 << 20);
    HZIP hz = CreateZip(block.data(), uint32_t(block.size()), nullptr);
    ASSERT_EQ(ZipAdd(hz, "before.txt", kText.data(), 100), ZIPR_OK);
    {
      testkit::PipeFeed feed(kText.substr(0, 1000));
      EXPECT_EQ(ZipAddHandle(hz, name, feed.read_end(), uint32_t(kText.size())), ZIPR_READFAILED) << name;
    }
    ASSERT_EQ(ZipAdd(hz, "after.txt", kText.data(), 200), ZIPR_OK);
    void* p = nullptr;
    uint32_t n = 0;
    ASSERT_EQ(ZipGetMemory(hz, &p, &n), ZIPR_OK);
    const auto items = read_back(std::string(static_cast<char*>(p), n));
    CloseZipZ(hz);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].first, "before.txt");
    EXPECT_EQ(items[0].second, kText.substr(0, 100));
    EXPECT_EQ(items[1].first, "after.txt");
    EXPECT_EQ(items[1].second, kText.substr(0, 200));
  }

  // On a stream output a stored item whose size was wrong cannot be
  // described at all; a deflated one reports the loss.
  testkit::PipeDrain drain;
  HZIP hz = CreateZipHandle(drain.write_end(), nullptr);
  {
    testkit::PipeFeed feed(kText.substr(0, 10));
    EXPECT_EQ(ZipAddHandle(hz, "cut.gz", feed.read_end(), 1000), ZIPR_NOCHANGE);
  }
  {
    testkit::PipeFeed feed(kText.substr(0, 10));
    EXPECT_EQ(ZipAddHandle(hz, "cut.txt", feed.read_end(), 1000), ZIPR_READFAILED);
  }
  {
    testkit::PipeFeed feed(kText.substr(0, 10));  // announced rightly
    EXPECT_EQ(ZipAddHandle(hz, "whole.txt", feed.read_end(), 10), ZIPR_OK);
  }
  EXPECT_EQ(CloseZipZ(hz), ZIPR_OK);
  const auto items = read_back(drain.finish());
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].second, kText.substr(0, 10));
}

#ifndef _WIN32
TEST(ShrinkingSources, FileSmallerThanItsReportedSize) {
  // sysfs reports a page-sized file and delivers a line: a file that ends
  // before the size taken when it was opened.
  const char* path = "/sys/kernel/mm/transparent_hugepage/enabled";
  qp::Handle probe = qp::open_read_shared(path);
  if (!qp::is_valid(probe) || qp::file_size(probe) != 4096) {
    if (qp::is_valid(probe)) qp::close_handle(probe);
    GTEST_SKIP() << "no sysfs file to stand for a file that shrank";
  }
  qp::close_handle(probe);
  std::vector<char> block(1 << 16);
  HZIP hz = CreateZip(block.data(), uint32_t(block.size()), nullptr);
  EXPECT_EQ(ZipAdd(hz, "shrunk.txt", path), ZIPR_READFAILED);
  EXPECT_EQ(ZipAdd(hz, "shrunk.zip", path), ZIPR_READFAILED);
  EXPECT_EQ(ZipAddFolder(hz, "then"), ZIPR_OK);
  void* p = nullptr;
  uint32_t n = 0;
  ASSERT_EQ(ZipGetMemory(hz, &p, &n), ZIPR_OK);
  const auto items = read_back(std::string(static_cast<char*>(p), n));
  CloseZipZ(hz);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].first, "then/");
}

TEST(NamedPipes, NoCallWaitsForTheOtherEnd) {
  // A Linux folder may hold a FIFO that nobody else has open. Opening it the
  // usual way waits for the other end for ever; every call must return.
  ScratchDir dir;
  const std::string fifo = dir / "fifo", out = dir / "out";
  ASSERT_EQ(std::system(("mkfifo '" + fifo + "'").c_str()), 0);
  const std::string key = dir / "key";
  ASSERT_TRUE(testkit::write_file(key, kText));

  // As an input it reads as an empty file.
  EXPECT_EQ(OpenZip(fifo.c_str(), nullptr), nullptr);
  EXPECT_EQ(UNZIP(fifo.c_str(), dir.path().c_str()), 0);  // no archive in it
  EXPECT_EQ(T2GMT(fifo.c_str(), out.c_str()), 1);
  EXPECT_EQ(QCRYPT_encrypt(fifo.c_str(), out.c_str(), key.c_str()), 1);
  EXPECT_STREQ(makeBuffer(fifo.c_str()), "");

  // As an output nobody reads it refuses to open.
  EXPECT_EQ(CreateZip(fifo.c_str(), nullptr), nullptr);
  EXPECT_EQ(T2GMT(key.c_str(), fifo.c_str()), 0);
  const ziptest::Sample s = ziptest::make_sample(100);
  HZIP h = OpenZip(s.bytes.data(), static_cast<uint32_t>(s.bytes.size()), ziptest::kPassword);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(UnzipItem(h, 0, fifo.c_str()), ZIPR_OPENFAILED);
  CloseZipU(h);

  // Packed from a folder it is an empty item beside the others.
  CD(dir.path().c_str());
  EXPECT_EQ(ZIP("packed.zip", "."), 1);
  h = OpenZip((dir / "packed.zip").c_str(), nullptr);
  ASSERT_NE(h, nullptr);
  int index = -1;
  ZIPENTRY ze;
  ASSERT_EQ(FindZipItem(h, "fifo", false, &index, &ze), ZIPR_OK);
  EXPECT_EQ(ze.uncompressed_size, 0u);
  ASSERT_EQ(FindZipItem(h, "key", false, &index, &ze), ZIPR_OK);
  EXPECT_EQ(ze.uncompressed_size, uint32_t(kText.size()));
  CloseZipU(h);
}
#endif

namespace {

// The sample archive in a file opened for reading and writing, so that the
// test can cut it short under an open reader.
struct OpenArchiveFile {
  ScratchDir dir;
  qp::Handle h = nullptr;
  explicit OpenArchiveFile(const std::string& bytes) {
    const std::string path = dir / "a.zip";
    testkit::write_file(path, bytes);
    h = qp::open_read_write(path.c_str());
  }
  ~OpenArchiveFile() { qp::close_handle(h); }
  void cut(uint32_t size) {
    qp::set_file_pointer(h, static_cast<int32_t>(size), qp::SeekFrom::Begin);
    qp::set_end_of_file(h);
  }
};

}  // namespace

TEST(ReadFaults, ArchiveCutShortWhileOpen) {
  const ziptest::Sample s = ziptest::make_sample(200);
  // Cut points: inside each entry's data, inside the directory, and inside
  // the end record.
  std::vector<uint32_t> cuts;
  for (size_t k = 0; k + 1 < s.headers.size(); k += 2) cuts.push_back(uint32_t(s.headers[k].second + 7));
  for (const auto& range : s.headers) cuts.push_back(uint32_t(range.first + 3));
  for (uint32_t cut : cuts) {
    for (bool touch_first : {false, true}) {
      OpenArchiveFile f(s.bytes);
      HZIP h = OpenZipHandle(f.h, ziptest::kPassword);
      ASSERT_NE(h, nullptr);
      ZIPENTRY ze;
      // Entries described before the cut are remembered; the rest are read
      // from what is left.
      if (touch_first) GetZipItem(h, 1, &ze);
      f.cut(cut);
      GetZipItem(h, -1, &ze);
      ASSERT_EQ(ze.index, 4);
      for (int i = 0; i < 4; ++i) {
        const ziptest::SampleEntry& e = s.entries[i];
        const uint32_t local = testkit::get32(s.bytes, s.headers[2 * i + 1].first + 42);
        const uint32_t csize = testkit::get32(s.bytes, s.headers[2 * i + 1].first + 20);
        const uint32_t data_end = uint32_t(s.headers[2 * i].second) + csize;
        const bool lost = cut < data_end || local >= cut;

        std::string data(e.data.size() + 1, '\0');
        const ZIPRESULT mem = UnzipItem(h, i, &data[0], uint32_t(data.size()));
        const std::string out = f.dir / ("out" + std::to_string(i));
        const ZIPRESULT file = GetZipItem(h, i, &ze) == ZIPR_OK ? UnzipItem(h, i, out.c_str()) : ZIPR_CORRUPT;
        if (lost && !e.folder) {
          EXPECT_NE(mem, ZIPR_OK) << "cut " << cut << " entry " << i;
          EXPECT_NE(file, ZIPR_OK) << "cut " << cut << " entry " << i;
        }
        if (mem == ZIPR_OK) {
          EXPECT_EQ(data.substr(0, e.data.size()), e.data) << "cut " << cut << " entry " << i;
        }
        if (file == ZIPR_OK && !e.folder) {
          EXPECT_EQ(testkit::read_file(out), e.data) << "cut " << cut;
        }
      }
      CloseZipU(h);
    }
  }
}

TEST(ReadFaults, HandleThatCannotRead) {
  // A write-only handle on a sound archive: its reads fail, so the archive
  // cannot be opened.
  ScratchDir dir;
  const ziptest::Sample s = ziptest::make_sample();
  const std::string path = dir / "w.zip";
  qp::Handle h = qp::create_exclusive(path.c_str(), qp::kAttrNormal);
  uint32_t done = 0;
  ASSERT_TRUE(qp::write_file(h, s.bytes.data(), uint32_t(s.bytes.size()), &done));
  qp::set_file_pointer(h, 0, qp::SeekFrom::Begin);
  EXPECT_EQ(OpenZipHandle(h, nullptr), nullptr);
  EXPECT_NE(lasterrorU, ZIPR_OK);
  qp::close_handle(h);
}
