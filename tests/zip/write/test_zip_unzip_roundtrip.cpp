// Writer and reader together: random trees of items written through the
// creation API come back byte for byte through the reading API, and a
// folder packed by ZIP comes back through UNZIP.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "quillon.h"
#include "platform/dir.h"
#include "support/testkit.h"
#include "zip/api/close_handle.h"
#include "zip/read/reader.h"
#include "zip/write/writer.h"

using namespace quillon;
using testkit::read_file;
using testkit::ScratchDir;
using testkit::write_file;

namespace {

struct Item {
  std::string given;   // the name passed to the writer
  std::string stored;  // the name the reader reports
  std::string data;
  bool folder = false;
};

// Small deterministic generator, independent of the library's own.
struct Rng {
  uint32_t s;
  uint32_t next() {
    s = s * 1664525u + 1013904223u;
    return s >> 8;
  }
};

// A random tree: empty, one-byte, small and window-sliding files, nested
// names, some given with backslashes, a folder or two, one name of 300
// characters (kept as its first 259).
std::vector<Item> random_tree(uint32_t seed, int count) {
  Rng r{seed};
  std::vector<Item> items;
  for (int i = 0; i < count; ++i) {
    Item it;
    std::string name;
    const int depth = r.next() % 3;
    for (int d = 0; d < depth; ++d) name += "dir" + std::to_string(r.next() % 4) + "/";
    name += "f" + std::to_string(i) + (r.next() % 5 == 0 ? ".gz" : ".dat");
    it.stored = name;
    it.given = name;
    if (r.next() % 4 == 0) std::replace(it.given.begin(), it.given.end(), '/', '\\');
    size_t size = 0;
    switch (r.next() % 5) {
      case 0: size = 0; break;
      case 1: size = 1; break;
      case 2: size = r.next() % 5000; break;
      case 3: size = 65000 + r.next() % 80000; break;  // across the window slide
      default: size = r.next() % 40000; break;
    }
    it.data = testkit::make_bytes(size, r.next(), r.next() % 3 != 0);
    items.push_back(it);
  }
  Item folder;
  folder.given = "empty folder";
  folder.stored = "empty folder/";
  folder.folder = true;
  items.push_back(folder);
  Item long_name;
  long_name.given = std::string(300, 'L');
  long_name.stored = std::string(259, 'L');
  long_name.data = "long";
  items.push_back(long_name);
  return items;
}

void write_items(HZIP hz, const std::vector<Item>& items, const ScratchDir& src) {
  for (size_t i = 0; i < items.size(); ++i) {
    const Item& it = items[i];
    if (it.folder) {
      ASSERT_EQ(ZipAddFolder(hz, it.given.c_str()), ZIPR_OK);
    } else if (it.data.empty() || i % 2 == 0) {
      // Files for even items (and for empty ones: a memory item needs bytes).
      const std::string path = src / ("src" + std::to_string(i));
      write_file(path, it.data);
      ASSERT_EQ(ZipAdd(hz, it.given.c_str(), path.c_str()), ZIPR_OK) << it.given;
    } else {
      ASSERT_EQ(ZipAdd(hz, it.given.c_str(), it.data.data(), uint32_t(it.data.size())), ZIPR_OK) << it.given;
    }
  }
}

void read_back(HZIP hu, const std::vector<Item>& items, const ScratchDir& out) {
  ZIPENTRY ze;
  ASSERT_EQ(GetZipItem(hu, -1, &ze), ZIPR_OK);
  ASSERT_EQ(ze.index, int(items.size()));
  ASSERT_EQ(SetUnzipBaseDir(hu, out.path().c_str()), ZIPR_OK);
  for (size_t i = 0; i < items.size(); ++i) {
    const Item& it = items[i];
    ASSERT_EQ(GetZipItem(hu, int(i), &ze), ZIPR_OK);
    EXPECT_EQ(std::string(ze.name), it.stored);
    EXPECT_EQ(ze.uncompressed_size, it.data.size()) << it.stored;
    EXPECT_EQ((ze.attributes & 0x10) != 0, it.folder) << it.stored;
    if (!it.folder) {
      std::string mem(it.data.size() + 1, '\0');
      EXPECT_EQ(UnzipItem(hu, int(i), &mem[0], uint32_t(mem.size())), ZIPR_OK) << it.stored;
      mem.resize(it.data.size());
      EXPECT_EQ(mem, it.data) << it.stored;
    }
    if (out.path().size() + it.stored.size() >= 260) {
      // Longer than a path may be: refused whole, never cut into another name.
      EXPECT_EQ(UnzipItem(hu, int(i), ze.name), ZIPR_OPENFAILED) << it.stored;
      EXPECT_FALSE(testkit::exists(out / it.stored.substr(0, 200)));
      continue;
    }
    EXPECT_EQ(UnzipItem(hu, int(i), ze.name), ZIPR_OK) << it.stored;
    if (it.folder) {
      EXPECT_TRUE(testkit::is_directory(out / it.stored.substr(0, it.stored.size() - 1)));
    } else {
      EXPECT_EQ(read_file(out / it.stored), it.data) << it.stored;
    }
  }
}

}  // namespace

TEST(ZipUnzipRoundTrip, RandomTreesThroughFilesAndMemory) {
  for (uint32_t seed = 1; seed <= 3; ++seed) {
    for (const char* password : {static_cast<const char*>(nullptr), "round trip"}) {
      SCOPED_TRACE(testing::Message() << "seed " << seed << (password ? " with password" : ""));
      ScratchDir src, out, out2;
      const std::vector<Item> items = random_tree(seed, 40);
      HZIP hz = CreateZip((src / "tree.zip").c_str(), password);
      ASSERT_NE(hz, nullptr);
      write_items(hz, items, src);
      ASSERT_EQ(CloseZipZ(hz), ZIPR_OK);
      HZIP hu = OpenZip((src / "tree.zip").c_str(), password);
      ASSERT_NE(hu, nullptr);
      read_back(hu, items, out);
      EXPECT_EQ(CloseZipU(hu), ZIPR_OK);

      // The same items through a memory archive.
      hz = CreateZip(nullptr, 16u << 20, password);
      write_items(hz, items, src);
      void* p = nullptr;
      uint32_t n = 0;
      ASSERT_EQ(ZipGetMemory(hz, &p, &n), ZIPR_OK);
      std::string archive(static_cast<char*>(p), n);
      EXPECT_EQ(CloseZipZ(hz), ZIPR_OK);
      hu = OpenZip(&archive[0], uint32_t(archive.size()), password);
      ASSERT_NE(hu, nullptr);
      read_back(hu, items, out2);
      EXPECT_EQ(CloseZipU(hu), ZIPR_OK);
    }
  }
}

// Zip64 sizes, offsets and end records, with the writer's classic range
// lowered to 100,000 bytes so that a small tree needs them, on a file and
// on a stream (8-byte data descriptors), with and without a password.
TEST(ZipUnzipRoundTrip, Zip64RecordsComeBack) {
  const std::vector<Item> items = random_tree(7, 30);
  for (const char* password : {static_cast<const char*>(nullptr), "zip64"}) {
    for (const bool stream : {false, true}) {
      SCOPED_TRACE(testing::Message() << (stream ? "stream" : "file") << (password ? " with password" : ""));
      ScratchDir src, out;
      testkit::PipeDrain drain;
      HZIP hz = stream ? CreateZipHandle(drain.write_end(), password) : CreateZip((src / "z.zip").c_str(), password);
      ASSERT_NE(hz, nullptr);
      static_cast<ArchiveWriter*>(hz->object)->set_size_limit(100000);
      write_items(hz, items, src);
      ASSERT_EQ(CloseZipZ(hz), ZIPR_OK);
      if (stream) write_file(src / "z.zip", drain.finish());
      HZIP hu = OpenZip((src / "z.zip").c_str(), password);
      ASSERT_NE(hu, nullptr);
      read_back(hu, items, out);
      EXPECT_EQ(CloseZipU(hu), ZIPR_OK);
    }
  }
}

TEST(ZipUnzipRoundTrip, SeventyThousandItems) {
  const unsigned count = 70000;
  HZIP hz = CreateZip(nullptr, 24u << 20, nullptr);
  ASSERT_NE(hz, nullptr);
  char name[40];
  for (unsigned i = 0; i < count; ++i) {
    std::snprintf(name, sizeof name, "d%02u/f%05u", i / 1000, i);
    ASSERT_EQ(ZipAdd(hz, name, name, uint32_t(std::strlen(name))), ZIPR_OK);
  }
  void* p = nullptr;
  uint32_t n = 0;
  ASSERT_EQ(ZipGetMemory(hz, &p, &n), ZIPR_OK);
  std::string archive(static_cast<char*>(p), n);
  CloseZipZ(hz);
  HZIP hu = OpenZip(&archive[0], uint32_t(archive.size()), nullptr);
  ASSERT_NE(hu, nullptr);
  ZIPENTRY ze;
  ASSERT_EQ(GetZipItem(hu, -1, &ze), ZIPR_OK);
  EXPECT_EQ(ze.index, int(count));
  for (unsigned i : {0u, 1u, 65535u, 65536u, 69999u}) {
    std::snprintf(name, sizeof name, "d%02u/f%05u", i / 1000, i);
    ASSERT_EQ(GetZipItem(hu, int(i), &ze), ZIPR_OK);
    EXPECT_STREQ(ze.name, name);
    char data[40] = {0};
    EXPECT_EQ(UnzipItem(hu, int(i), data, sizeof data), ZIPR_OK);
    EXPECT_STREQ(data, name);
  }
  EXPECT_EQ(CloseZipU(hu), ZIPR_OK);
}

TEST(ZipUnzipRoundTrip, ExportsPackAndUnpackAFolder) {
  ScratchDir src, dst;
  std::map<std::string, std::string> files = {
      {"a.txt", testkit::make_bytes(100000, 5, true)},
      {"b.bin", testkit::make_bytes(70000, 6, false)},
      {"c.gz", testkit::make_bytes(500, 7, false)},
      {"empty", ""},
  };
  for (const auto& f : files) write_file(src / f.first, f.second);
  ASSERT_EQ(CD(src.path().c_str()), 1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(ZIP((dst / "all.zip").c_str(), "."), 1.0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(UNZIP((dst / "all.zip").c_str(), (dst / "out").c_str()), 1.0);
  for (const auto& f : files) EXPECT_EQ(read_file(dst / ("out/" + f.first)), f.second) << f.first;
}

// Names with accents and names without a form in a Western ANSI code page
// are packed by ZIP and come back under the same names through UNZIP.
TEST(ZipUnzipRoundTrip, NonAsciiNamesComeBackThroughTheExports) {
  namespace fs = std::filesystem;
  ScratchDir src, dst;
  const std::vector<std::string> names = {u8"caf\u00e9.txt", u8"r\u00e9sum\u00e9.txt",
                                          u8"\u65e5\u672c\u8a9e\u306e\u30d5\u30a1\u30a4\u30eb.txt", "plain.txt"};
  for (const std::string& n : names) std::ofstream(fs::u8path(src / n), std::ios::binary) << "data of " << n;
  ASSERT_EQ(CD(src.path().c_str()), 1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(ZIP((dst / "names.zip").c_str(), "."), 1.0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(UNZIP((dst / "names.zip").c_str(), (dst / "out").c_str()), 1.0);
  for (const std::string& n : names) {
    std::ifstream f(fs::u8path(dst / ("out/" + n)), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()), "data of " + n) << n;
  }
  std::error_code ec;  // folders with such names are removed through the wide functions
  fs::remove_all(fs::u8path(src.path()), ec);
  fs::remove_all(fs::u8path(dst.path()), ec);
}
