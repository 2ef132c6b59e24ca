// Archives written by other tools (Python's zipfile, 7-Zip, bsdtar, Info-ZIP's
// zip), made at test time by make_archives.py, extracted byte for byte with
// their names (UTF-8 ones included: exact bytes on Linux, exact names on
// Windows), folders, read-only marks and modification times (of folders
// too, and from whichever block the tool keeps them in). Zip64 records,
// the longest comment, data before the archive and pipes are among them.
//
// The archives' folder comes from QUILLON_UNZIP_ARCHIVES, else "archives" in
// the working folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/fileinfo.h"
#include "platform/text.h"
#include "quillon.h"
#include "support/testkit.h"
#include "zip/api/close_handle.h"
#include "zip/api/unzip_export.h"
#include "zip/format/dos_time.h"
#include "zip/read/reader.h"

using namespace quillon;

namespace {

struct Expected {
  std::string name;
  bool folder = false;
  uint32_t mtime = 0;
  bool read_only = false;
};

struct Archive {
  std::string password;
  std::vector<Expected> entries;
};

std::string archives_dir() {
  const char* env = std::getenv("QUILLON_UNZIP_ARCHIVES");
  return env && *env ? env : "archives";
}

std::map<std::string, Archive> load_manifest() {
  std::map<std::string, Archive> out;
  std::ifstream f(archives_dir() + "/manifest.txt");
  std::string line;
  while (std::getline(f, line)) {
    std::vector<std::string> fields;
    std::stringstream ss(line);
    std::string field;
    while (std::getline(ss, field, '\t')) fields.push_back(field);
    if (fields.size() != 6) continue;
    Archive& a = out[fields[0]];
    a.password = fields[1];
    a.entries.push_back(Expected{fields[2], fields[3] == "d", static_cast<uint32_t>(std::stoul(fields[4])),
                                 fields[5] == "1"});
  }
  return out;
}

// Compares what was extracted under `out` with the manifest's entries.
void check_extracted(const std::string& archive, const Archive& expected, const std::string& out) {
  const std::string tree = archives_dir() + "/tree/";
  std::set<std::string> wanted;
  for (const Expected& e : expected.entries) {
    SCOPED_TRACE(archive + ": " + e.name);
    wanted.insert(e.name);
    const std::string path = out + "/" + e.name;
    if (e.folder) {
      // A folder item's time is given back once what it holds is written.
      qp::FileInfo info;
      ASSERT_TRUE(qp::folder_info_utf8(path.c_str(), &info));
      if (e.mtime != 0) {
        EXPECT_EQ(info.write_time, file_time_of_unix_time(e.mtime));
      }
      continue;
    }
    const std::string want = testkit::read_utf8(tree + e.name);
    const std::string got = testkit::read_utf8(path);
    EXPECT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
    qp::FileInfo info;
    ASSERT_TRUE(testkit::file_info_utf8(path, &info));
    if (e.mtime != 0) {
      EXPECT_EQ(info.write_time, file_time_of_unix_time(e.mtime));
    }
    const uint32_t attributes = qp::get_file_attributes_utf8(path.c_str());
    EXPECT_EQ((attributes & qp::kAttrReadOnly) != 0, e.read_only);
  }
  // Nothing else was made; folders that hold files count as made.
  for (const std::string& f : testkit::tree_utf8(out)) {
    bool known = wanted.count(f) > 0;
    for (const std::string& w : wanted) known = known || w.rfind(f, 0) == 0;
    EXPECT_TRUE(known) << archive << ": unexpected " << f;
  }
}

class Interop : public ::testing::Test {
 protected:
  void SetUp() override {
    manifest_ = load_manifest();
    if (manifest_.empty()) GTEST_SKIP() << "no archives in " << archives_dir() << " (run make_archives.py)";
  }
  std::map<std::string, Archive> manifest_;
};

}  // namespace

// Through the export (with the threads the environment gives), and through
// its body on the calling thread alone and with 8 workers.
TEST_F(Interop, ToolArchivesExtractWithUNZIP) {
  int checked = 0;
  for (const auto& [archive, expected] : manifest_) {
    if (!expected.password.empty()) continue;
    const std::string path = archives_dir() + "/" + archive;
    for (unsigned threads : {0u, 1u, 8u}) {
      SCOPED_TRACE(threads);
      testkit::ScratchDir dir;
      const std::string out = dir / "out";
      EXPECT_EQ(threads == 0 ? UNZIP(path.c_str(), out.c_str()) : unzip_archive(path.c_str(), out.c_str(), threads),
                1.0);
      check_extracted(archive, expected, out);
    }
    ++checked;
  }
  EXPECT_GE(checked, 16);
}

// UTF-8 names are looked up in UTF-8 and in the system's code page, and are
// described in the code page ('?' for what it lacks).
TEST_F(Interop, Utf8NamesDescribedAndFound) {
  const std::string path = archives_dir() + "/py_names.zip";
  HZIP h = OpenZip(path.c_str(), nullptr);
  ASSERT_NE(h, nullptr);
  for (const char* name : {"café.txt", "日本語のファイル.txt", "Ελληνικά/κείμενο.txt"}) {
    SCOPED_TRACE(name);
    std::string system;
    bool exact = false;
    ASSERT_TRUE(qp::system_from_utf8(name, &system, &exact));
    int by_utf8 = -1, by_system = -2;
    ZIPENTRY ze;
    ASSERT_EQ(FindZipItem(h, name, false, &by_utf8, &ze), ZIPR_OK);
    EXPECT_EQ(std::string(ze.name), system);
    ASSERT_EQ(FindZipItem(h, system.c_str(), false, &by_system, nullptr), ZIPR_OK);
    EXPECT_EQ(by_system, by_utf8);
  }
  CloseZipU(h);
}

// More than 65,535 entries: the Zip64 end record's count, and the last entry.
TEST_F(Interop, Zip64EndRecordCountsEveryEntry) {
  const std::string path = archives_dir() + "/py_many.zip";
  HZIP h = OpenZip(path.c_str(), nullptr);
  ASSERT_NE(h, nullptr);
  ZIPENTRY ze;
  ASSERT_EQ(GetZipItem(h, -1, &ze), ZIPR_OK);
  EXPECT_EQ(ze.index, 70000);
  int index = -1;
  ASSERT_EQ(FindZipItem(h, "many/69999.txt", false, &index, &ze), ZIPR_OK);
  EXPECT_EQ(index, 69999);
  char buf[16] = {};
  EXPECT_EQ(UnzipItem(h, 69999, buf, sizeof buf), ZIPR_OK);
  EXPECT_STREQ(buf, "69999\n");
  CloseZipU(h);
}

// Files made on a Unix host keep their permission bits on Linux (never
// setuid, setgid or sticky); a symbolic link becomes a regular file holding
// the link's text. Windows keeps its read-only rule.
TEST_F(Interop, UnixPermissionsAndLinks) {
  testkit::ScratchDir dir;
  const std::string out = dir / "out";
  EXPECT_EQ(UNZIP((archives_dir() + "/infozip_modes.zip").c_str(), out.c_str()), 1.0);
  EXPECT_EQ(testkit::read_file(out + "/link"), "run.sh");
  EXPECT_EQ(testkit::read_file(out + "/run.sh"), "#!/bin/sh\necho run.sh\n");
  EXPECT_EQ(testkit::read_file(out + "/-"), "from a pipe\n");
  const std::pair<const char*, uint32_t> modes[] = {
      {"run.sh", 0755}, {"private.txt", 0640}, {"setuid.bin", 0755}, {"open.txt", 0666}, {"-", 0600}};
  for (const auto& [name, mode] : modes) {
    SCOPED_TRACE(name);
    qp::FileInfo info;
    ASSERT_TRUE(testkit::file_info(out + "/" + name, &info));
    if (info.has_unix_mode) {
      EXPECT_EQ(info.unix_mode & 07777, mode);
    }
    EXPECT_EQ(info.attributes & qp::kAttrReadOnly, 0u);
  }
  qp::FileInfo link;
  ASSERT_TRUE(testkit::file_info(out + "/link", &link));
  if (link.has_unix_mode) {
    EXPECT_EQ(link.unix_mode & 0170000, 0100000u);  // a regular file
    EXPECT_EQ(link.unix_mode & 0111, 0u);           // not the link's rwxrwxrwx
  }
}

TEST_F(Interop, EncryptedArchivesThroughTheHandleApi) {
  for (const auto& [archive, expected] : manifest_) {
    if (expected.password.empty()) continue;
    const std::string path = archives_dir() + "/" + archive;
    testkit::ScratchDir dir;
    const std::string out = dir / "out";
    qp::Handle src = qp::open_read_shared(path.c_str());
    ASSERT_TRUE(qp::is_valid(src));
    HZIP h = OpenZipHandle(src, expected.password.c_str());
    ASSERT_NE(h, nullptr);
    SetUnzipBaseDir(h, out.c_str());
    ZIPENTRY ze;
    GetZipItem(h, -1, &ze);
    const int count = ze.index;
    for (int i = 0; i < count; ++i) {
      ASSERT_EQ(GetZipItem(h, i, &ze), ZIPR_OK);
      EXPECT_EQ(UnzipItem(h, i, ze.name), ZIPR_OK) << ze.name;
    }
    CloseZipU(h);
    check_extracted(archive, expected, out);

    // Without the password, or with a wrong one, the check byte refuses
    // each entry but the empty one (which has no data to refuse), and but
    // the one wrong password in 256 whose check byte happens to match.
    int missed = 0;
    for (const char* wrong : {static_cast<const char*>(nullptr), "pass", "PASS "}) {
      qp::set_file_pointer(src, 0, qp::SeekFrom::Begin);
      h = OpenZipHandle(src, wrong);
      ASSERT_NE(h, nullptr);
      for (int i = 0; i < count; ++i) {
        char buf[64];
        if (UnzipItem(h, i, buf, sizeof buf) != ZIPR_PASSWORD) ++missed;
      }
      CloseZipU(h);
    }
    EXPECT_LE(missed, 3 + 1);
    qp::close_handle(src);

    // UNZIP has no password: each encrypted entry fails before its first
    // byte and leaves no file, and the result says 0; folders and the empty
    // entry are made. (A check byte that matches by chance, one in 256, may
    // leave one file.)
    testkit::ScratchDir none;
    const std::string bare = none / "out";
    EXPECT_EQ(UNZIP(path.c_str(), bare.c_str()), 0.0);
    int stray = 0;
    for (const std::string& f : testkit::tree_utf8(bare))
      if (f.back() != '/' && f != "empty.dat") ++stray;
    EXPECT_LE(stray, 1) << archive;
  }
}
