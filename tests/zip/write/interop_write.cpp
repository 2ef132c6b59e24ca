// Writes archives of every output and item kind into ./zipwriter_interop,
// each NAME.zip with NAME.expected/ (the tree it must extract to) and
// NAME.info (its password on the first line, "-" for none; options on the
// second). check_interop.py then tests and extracts them with unzip, 7z,
// bsdtar and Python's zipfile. The split lets the Windows build write the
// archives under Wine while the tools run natively.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "quillon.h"
#include "platform/dir.h"
#include "platform/file.h"
#include "platform/text.h"
#include "support/testkit.h"
#include "zip/api/close_handle.h"
#include "zip/write/writer.h"

using namespace quillon;
using testkit::write_file;

namespace {

const std::string kOut = "zipwriter_interop/";

// Text across the compressor's window slide, noise, and small cases.
const std::string kLongText = testkit::make_bytes(200000, 11, true);
const std::string kNoise = testkit::make_bytes(70000, 12, false);
const std::string kPipedText = testkit::make_bytes(100000, 13, true);
const std::string kSmallNoise = testkit::make_bytes(3000, 14, false);

class Folder : public testing::Environment {
 public:
  void SetUp() override {
    std::error_code ec;
    std::filesystem::remove_all("zipwriter_interop", ec);
    qp::make_directory("zipwriter_interop");
  }
};
const testing::Environment* const kFolder = testing::AddGlobalTestEnvironment(new Folder);

// What an archive must extract to.
class Expected {
 public:
  explicit Expected(const std::string& name) : root_(kOut + name + ".expected/") {
    testkit::remove_tree(root_.substr(0, root_.size() - 1));
    qp::make_directory(root_.c_str());
  }
  void file(const std::string& path, const std::string& bytes) {
    make_parents(path);
    write_file(root_ + path, bytes);
  }
  void folder(const std::string& path) {
    make_parents(path + "/");
    qp::make_directory((root_ + path).c_str());
  }

 private:
  void make_parents(const std::string& path) {
    for (size_t i = path.find('/'); i != std::string::npos; i = path.find('/', i + 1))
      qp::make_directory((root_ + path.substr(0, i)).c_str());
  }
  std::string root_;
};

// Names with accents, and one with no form in a Western ANSI code page, next
// to ASCII names. Created through std::filesystem, which uses the wide
// functions on Windows.
const char* const kMixedNames[] = {u8"caf\u00e9.txt", u8"r\u00e9sum\u00e9.txt",
                                   u8"\u65e5\u672c\u8a9e\u306e\u30d5\u30a1\u30a4\u30eb.txt", "plain.txt",
                                   "README"};

void write_utf8_named(const std::string& folder, const std::string& name, const std::string& bytes) {
  std::ofstream f(std::filesystem::u8path(folder + name), std::ios::binary);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void write_info(const std::string& name, const char* password, const char* options = "") {
  write_file(kOut + name + ".info", std::string(password ? password : "-") + "\n" + options + "\n");
}

// Sources on disk for the file and handle items.
void make_sources() {
  static bool made = false;
  if (made) return;
  qp::make_directory("zipwriter_interop_src");
  write_file("zipwriter_interop_src/text.txt", kLongText);
  write_file("zipwriter_interop_src/noise.bin", kNoise);
  write_file("zipwriter_interop_src/empty.txt", "");
  made = true;
}

// Every item kind; `stream_output` leaves out what a stream cannot take.
void add_items(HZIP hz, Expected& ex, bool stream_output, bool enciphered) {
  make_sources();
  ASSERT_EQ(ZipAdd(hz, "text.txt", "zipwriter_interop_src/text.txt"), ZIPR_OK);
  ex.file("text.txt", kLongText);
  qp::Handle h = qp::open_read_shared("zipwriter_interop_src/noise.bin");
  ASSERT_TRUE(qp::is_valid(h));
  ASSERT_EQ(ZipAddHandle(hz, "noise.bin", h), ZIPR_OK);
  qp::close_handle(h);
  ex.file("noise.bin", kNoise);
  ASSERT_EQ(ZipAdd(hz, "empty.txt", "zipwriter_interop_src/empty.txt"), ZIPR_OK);
  ex.file("empty.txt", "");
  ASSERT_EQ(ZipAdd(hz, "one.txt", "1", 1), ZIPR_OK);
  ex.file("one.txt", "1");
  ASSERT_EQ(ZipAdd(hz, "stored.gz", kSmallNoise.data(), uint32_t(kSmallNoise.size())), ZIPR_OK);
  ex.file("stored.gz", kSmallNoise);
  {
    testkit::PipeFeed feed(kPipedText);
    ASSERT_EQ(ZipAddHandle(hz, "piped.txt", feed.read_end()), ZIPR_OK);
    ex.file("piped.txt", kPipedText);
  }
  if (!stream_output && !enciphered) {
    testkit::PipeFeed feed(kSmallNoise);
    ASSERT_EQ(ZipAddHandle(hz, "piped.gz", feed.read_end()), ZIPR_OK);
    ex.file("piped.gz", kSmallNoise);
  }
  ASSERT_EQ(ZipAddFolder(hz, "docs"), ZIPR_OK);
  ex.folder("docs");
  ASSERT_EQ(ZipAdd(hz, "docs/inner.txt", kSmallNoise.data(), 100), ZIPR_OK);
  ex.file("docs/inner.txt", kSmallNoise.substr(0, 100));
  ASSERT_EQ(ZipAdd(hz, "dir\\sub\\back.txt", "backslashes", 11), ZIPR_OK);
  ex.file("dir/sub/back.txt", "backslashes");
}

void file_archive(const char* name, const char* password) {
  Expected ex(name);
  HZIP hz = CreateZip((kOut + name + ".zip").c_str(), password);
  ASSERT_NE(hz, nullptr);
  add_items(hz, ex, false, password != nullptr);
  ASSERT_EQ(CloseZipZ(hz), ZIPR_OK);
  write_info(name, password);
}

void handle_archive(const char* name, const char* password, size_t prefix) {
  Expected ex(name);
  qp::Handle h = qp::open_read_write((kOut + name + ".zip").c_str());
  ASSERT_TRUE(qp::is_valid(h));
  const std::string lead(prefix, 'P');
  uint32_t done = 0;
  if (prefix) qp::write_file(h, lead.data(), uint32_t(prefix), &done);
  HZIP hz = CreateZipHandle(h, password);
  ASSERT_NE(hz, nullptr);
  add_items(hz, ex, false, password != nullptr);
  ASSERT_EQ(CloseZipZ(hz), ZIPR_OK);
  qp::close_handle(h);
  write_info(name, password, prefix ? "prefixed" : "");
}

void pipe_archive(const char* name, const char* password) {
  Expected ex(name);
  testkit::PipeDrain drain;
  HZIP hz = CreateZipHandle(drain.write_end(), password);
  ASSERT_NE(hz, nullptr);
  add_items(hz, ex, true, password != nullptr);
  ASSERT_EQ(CloseZipZ(hz), ZIPR_OK);
  write_file(kOut + name + ".zip", drain.finish());
  write_info(name, password);
}

void memory_archive(const char* name, const char* password, bool own_block) {
  Expected ex(name);
  std::vector<char> block(own_block ? 0 : 4u << 20);
  HZIP hz = CreateZip(own_block ? nullptr : block.data(), 4u << 20, password);
  ASSERT_NE(hz, nullptr);
  add_items(hz, ex, false, password != nullptr);
  void* p = nullptr;
  uint32_t n = 0;
  ASSERT_EQ(ZipGetMemory(hz, &p, &n), ZIPR_OK);
  write_file(kOut + name + ".zip", std::string(static_cast<char*>(p), n));
  ASSERT_EQ(CloseZipZ(hz), ZIPR_OK);
  write_info(name, password);
}

}  // namespace

TEST(Interop, ExportPacksAFolder) {
  Expected ex("export");
  qp::make_directory("zipwriter_interop_export");
  const std::string dir = "zipwriter_interop_export/";
  write_file(dir + "long.txt", kLongText);
  write_file(dir + "noise.bin", kNoise);
  write_file(dir + "empty", "");
  write_file(dir + "one", "1");
  write_file(dir + "packed.gz", kSmallNoise);
  qp::make_directory((dir + "skipped").c_str());
  write_file(dir + "skipped/not-packed.txt", "x");
  for (const char* n : {"long.txt", "noise.bin", "empty", "one", "packed.gz"}) ex.file(n, testkit::read_file(dir + n));
  const std::string back = testkit::current_dir();
  ASSERT_EQ(CD(dir.c_str()), 1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(ZIP("../zipwriter_interop/export.zip", "."), 1.0);
  testing::internal::GetCapturedStdout();
  CD(back.c_str());
  write_info("export", nullptr);
}

// ZIP packs every file of a folder whatever its name, prints each name as
// the system's code page has it (UTF-8 where it has no form there, never
// "?"), and flags the names that are not ASCII as UTF-8.
TEST(Interop, ExportPacksNonAsciiNames) {
  // Folders with such names are removed through the wide functions too.
  const std::string dir = "zipwriter_interop_names/";
  std::error_code ec;
  std::filesystem::remove_all(std::filesystem::u8path(dir), ec);
  std::filesystem::remove_all(std::filesystem::u8path(kOut + "names.expected"), ec);
  Expected ex("names");
  qp::make_directory(dir.c_str());
  std::vector<std::string> want = {".", ".."};
  for (const char* n : kMixedNames) {
    write_utf8_named(dir, n, std::string("contents of ") + n);
    write_utf8_named(kOut + "names.expected/", n, std::string("contents of ") + n);
    std::string shown;
    bool exact = false;
    want.push_back(qp::system_from_utf8(n, &shown, &exact) && exact ? shown : n);
  }
  const std::string back = testkit::current_dir();
  ASSERT_EQ(CD(dir.c_str()), 1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(ZIP("../zipwriter_interop/names.zip", "."), 1.0);
  const std::string printed = testing::internal::GetCapturedStdout();
  CD(back.c_str());
  std::vector<std::string> lines;
  for (size_t at = 0, nl; (nl = printed.find('\n', at)) != std::string::npos; at = nl + 1)
    lines.push_back(printed.substr(at, nl - at));
  std::sort(lines.begin(), lines.end());
  std::sort(want.begin(), want.end());
  EXPECT_EQ(lines, want);
  EXPECT_EQ(printed.find('?'), std::string::npos) << printed;
  write_info("names", nullptr, "names");
}

// Zip64 records with small values: the writer's classic range is lowered so
// that sizes, offsets and the directory's place pass it.
TEST(Interop, Zip64RecordsOnFileAndStream) {
  const std::string big = testkit::make_bytes(150000, 15, false);
  for (const bool stream : {false, true}) {
    const char* name = stream ? "zip64_stream" : "zip64_file";
    Expected ex(name);
    testkit::PipeDrain drain;
    HZIP hz = stream ? CreateZipHandle(drain.write_end(), nullptr) : CreateZip((kOut + name + ".zip").c_str(), nullptr);
    ASSERT_NE(hz, nullptr);
    static_cast<ArchiveWriter*>(hz->object)->set_size_limit(100000);
    ASSERT_EQ(ZipAdd(hz, "small.txt", "small", 5), ZIPR_OK);
    ex.file("small.txt", "small");
    ASSERT_EQ(ZipAdd(hz, "big.bin", big.data(), uint32_t(big.size())), ZIPR_OK);
    ex.file("big.bin", big);
    ASSERT_EQ(ZipAdd(hz, "big.gz", big.data(), uint32_t(big.size())), ZIPR_OK);
    ex.file("big.gz", big);
    ASSERT_EQ(ZipAddFolder(hz, "far"), ZIPR_OK);
    ex.folder("far");
    ASSERT_EQ(ZipAdd(hz, "far/text.txt", kLongText.data(), uint32_t(kLongText.size())), ZIPR_OK);
    ex.file("far/text.txt", kLongText);
    ASSERT_EQ(CloseZipZ(hz), ZIPR_OK);
    if (stream) write_file(kOut + name + ".zip", drain.finish());
    write_info(name, nullptr);
  }
}

TEST(Interop, FileOutput) { file_archive("file", nullptr); }
TEST(Interop, FileOutputWithPassword) { file_archive("file_pw", "Pa55 word!"); }
TEST(Interop, HandleOutput) { handle_archive("handle", nullptr, 0); }
TEST(Interop, HandleOutputAfterOtherData) { handle_archive("handle_at_p", nullptr, 777); }
TEST(Interop, HandleOutputWithPassword) { handle_archive("handle_pw", "hidden", 0); }
TEST(Interop, PipeOutput) { pipe_archive("pipe", nullptr); }
TEST(Interop, PipeOutputWithPassword) { pipe_archive("pipe_pw", "through a pipe"); }
TEST(Interop, MappedMemoryOutput) { memory_archive("memory", nullptr, true); }
TEST(Interop, CallerMemoryOutputWithPassword) { memory_archive("memory_pw", "in memory", false); }

TEST(Interop, SeventyThousandItems) {
  Expected ex("many");
  HZIP hz = CreateZip((kOut + "many.zip").c_str(), nullptr);
  ASSERT_NE(hz, nullptr);
  char name[40];
  for (unsigned i = 0; i < 70000; ++i) {
    std::snprintf(name, sizeof name, "d%02u/f%05u.txt", i / 1000, i);
    ASSERT_EQ(ZipAdd(hz, name, name, 4), ZIPR_OK);
  }
  ASSERT_EQ(CloseZipZ(hz), ZIPR_OK);
  write_info("many", nullptr, "test-only");
}
