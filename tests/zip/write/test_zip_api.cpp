// The handle API's argument checks and last results, and the ZIP export.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "quillon.h"
#include "platform/dir.h"
#include "platform/file.h"
#include "support/testkit.h"
#include "support/zip_parse.h"
#include "zip/api/close_handle.h"
#include "zip/api/zip_export.h"
#include "zip/write/writer.h"

using namespace quillon;
using testkit::read_file;
using testkit::ScratchDir;
using testkit::write_file;

namespace {

const std::string kEmptyArchive = std::string("PK\x05\x06", 4) + std::string(18, '\0');

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::vector<std::string> item_names(const std::string& bytes) {
  const ztest::Archive a = ztest::parse(bytes);
  EXPECT_EQ(a.error, "");
  std::vector<std::string> names;
  for (const ztest::Entry& e : a.entries) {
    names.push_back(e.name);
    std::string error;
    ztest::data_of(bytes, e, nullptr, &error);
    EXPECT_EQ(error, "");
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(ZipApi, HandleChecksAndLastResults) {
  lasterrorZ = ZIPR_OK;
  EXPECT_EQ(ZipAdd(nullptr, "a", "a", 1), ZIPR_BADARGS);
  EXPECT_EQ(lasterrorZ, ZIPR_BADARGS);
  void* p = &p;
  uint32_t n = 99;
  EXPECT_EQ(ZipGetMemory(nullptr, &p, &n), ZIPR_BADARGS);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(n, 0u);
  lasterrorZ = ZIPR_OK;
  EXPECT_EQ(CloseZipZ(nullptr), ZIPR_BADARGS);
  EXPECT_EQ(lasterrorZ, ZIPR_BADARGS);

  // A reading handle is refused and left alone.
  int object = 7;
  ZipHandleRecord reading{kReadingHandle, &object};
  EXPECT_EQ(ZipAdd(&reading, "a", "a", 1), ZIPR_MIXEDMODE);
  EXPECT_EQ(ZipAddFolder(&reading, "a"), ZIPR_MIXEDMODE);
  p = &p;
  EXPECT_EQ(ZipGetMemory(&reading, &p, &n), ZIPR_MIXEDMODE);
  EXPECT_EQ(p, &p);
  EXPECT_EQ(CloseZipZ(&reading), ZIPR_MIXEDMODE);
  EXPECT_EQ(lasterrorZ, ZIPR_MIXEDMODE);
  EXPECT_EQ(reading.kind, kReadingHandle);

  HZIP hz = CreateZip(nullptr, 4096, nullptr);
  ASSERT_NE(hz, nullptr);
  EXPECT_TRUE(IsZipHandleZ(hz));
  EXPECT_EQ(lasterrorZ, ZIPR_OK);
  EXPECT_EQ(ZipAdd(hz, "a.txt", "abc", 3), ZIPR_OK);
  void* first = nullptr;
  uint32_t first_len = 0;
  EXPECT_EQ(ZipGetMemory(hz, &first, &first_len), ZIPR_OK);
  EXPECT_EQ(ZipAdd(hz, "b.txt", "b", 1), ZIPR_ENDED);
  EXPECT_EQ(lasterrorZ, ZIPR_ENDED);
  EXPECT_EQ(ZipGetMemory(hz, &p, &n), ZIPR_OK);
  EXPECT_EQ(p, first);
  EXPECT_EQ(n, first_len);
  EXPECT_EQ(ZipGetMemory(hz, nullptr, nullptr), ZIPR_OK);
  EXPECT_EQ(item_names(std::string(static_cast<char*>(first), first_len)), std::vector<std::string>{"a.txt"});
  EXPECT_EQ(CloseZipZ(hz), ZIPR_OK);
}

TEST(ZipExport, PacksTheFilesOfTheCurrentDirectory) {
  ScratchDir dir;
  write_file(dir / "one.txt", std::string(5000, '1'));
  write_file(dir / "two.gz", "22");
  write_file(dir / "empty", "");
  MKDIR2((dir / "sub").c_str());
  write_file(dir / "sub/inner.txt", "3");
  ASSERT_EQ(CD(dir.path().c_str()), 1);

  testing::internal::CaptureStdout();
  EXPECT_EQ(ZIP("all.zip", dir.path().c_str()), 1.0);
  const std::string printed = testing::internal::GetCapturedStdout();
  // Every entry is printed; the archive itself, ".", ".." and the folder add nothing.
  EXPECT_EQ(lines_of(printed),
            (std::vector<std::string>{".", "..", "all.zip", "empty", "one.txt", "sub", "two.gz"}));
  const std::string bytes = read_file(dir / "all.zip");
  EXPECT_EQ(item_names(bytes), (std::vector<std::string>{"empty", "one.txt", "two.gz"}));
  for (const ztest::Entry& e : ztest::parse(bytes).entries) {
    EXPECT_EQ(e.method, e.name == "two.gz" ? 0 : 8) << e.name;
    EXPECT_FALSE(e.has_descriptor);
  }

  // More names, made in an order of their own: the archive takes them in
  // the byte order of their UTF-8 names whatever order the listing has,
  // with one thread or many.
  const std::vector<std::string> more = {"z9", "Zeta", "b", "a10", "a2", "_x", "\xC3\xA9t\xC3\xA9", "A", "m"};
  for (const std::string& n : more) {
    const std::string path = dir / n;
    qp::Handle f = qp::create_exclusive_utf8(path.c_str(), 0);
    ASSERT_TRUE(qp::is_valid(f)) << n;
    qp::close_handle(f);
  }
  std::vector<std::string> sorted = {"all.zip", "empty", "one.txt", "two.gz"};
  sorted.insert(sorted.end(), more.begin(), more.end());
  std::sort(sorted.begin(), sorted.end());
  for (unsigned threads : {1u, 8u}) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(zip_folder("sorted.zip", dir.path().c_str(), threads), 1.0);
    testing::internal::GetCapturedStdout();
    std::vector<std::string> order;
    for (const ztest::Entry& e : ztest::parse(read_file(dir / "sorted.zip")).entries) order.push_back(e.name);
    EXPECT_EQ(order, sorted) << threads << " threads";
  }
}

TEST(ZipExport, LooksUpBareNamesInTheCurrentDirectory) {
  ScratchDir listed, current;
  write_file(listed / "a.txt", "listed a");
  write_file(listed / "b.txt", "listed b");
  write_file(current / "a.txt", "current a");
  ASSERT_EQ(CD(current.path().c_str()), 1);
  testing::internal::CaptureStdout();
  // b.txt, listed but not in the current directory, is missing: 0.
  EXPECT_EQ(ZIP((current / "out.zip").c_str(), listed.path().c_str()), 0.0);
  testing::internal::GetCapturedStdout();
  const std::string bytes = read_file(current / "out.zip");
  const ztest::Archive a = ztest::parse(bytes);
  ASSERT_EQ(a.entries.size(), 1u);
  std::string error;
  EXPECT_EQ(ztest::data_of(bytes, a.entries[0], nullptr, &error), "current a");
}

TEST(ZipExport, UnlistableOrEmptyFolderGivesTheEmptyArchive) {
  ScratchDir dir;
  MKDIR2((dir / "empty").c_str());
  testing::internal::CaptureStdout();
  EXPECT_EQ(ZIP((dir / "e.zip").c_str(), (dir / "empty").c_str()), 1.0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(read_file(dir / "e.zip"), kEmptyArchive);

  testing::internal::CaptureStderr();
  EXPECT_EQ(ZIP((dir / "m.zip").c_str(), (dir / "missing").c_str()), 0.0);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("Couldn't open the directory: ", 0), 0u) << err;
  EXPECT_EQ(read_file(dir / "m.zip"), kEmptyArchive);

  // Null texts fail quietly, as an archive that cannot be made does.
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(ZIP(nullptr, dir.path().c_str()), 0.0);
  EXPECT_EQ(ZIP((dir / "n.zip").c_str(), nullptr), 0.0);
  testing::internal::GetCapturedStderr();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(read_file(dir / "n.zip"), kEmptyArchive);
  EXPECT_EQ(lasterrorZ, ZIPR_OK);
}
