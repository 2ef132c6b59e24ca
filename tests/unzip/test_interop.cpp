// Archives written by other tools (Python's zipfile, 7-Zip, bsdtar), made at
// test time by make_archives.py, extracted byte for byte with their names,
// folders, read-only marks and modification times.
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

#include "quillon.h"
#include "unzip_test_util.h"
#include "zip/unzip/unzip.h"

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
      EXPECT_TRUE(testkit::is_directory(path));
      continue;
    }
    const std::string want = testkit::read_file(tree + e.name);
    const std::string got = testkit::read_file(path);
    EXPECT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
    qp::FileInfo info;
    ASSERT_TRUE(ziptest::file_info(path, &info));
    EXPECT_EQ(info.write_time, timet2filetime(e.mtime));
    const uint32_t attributes = qp::get_file_attributes(path.c_str());
    EXPECT_EQ((attributes & qp::kAttrReadOnly) != 0, e.read_only);
  }
  // Nothing else was made; folders that hold files count as made.
  for (const std::string& f : ziptest::tree(out)) {
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

TEST_F(Interop, ToolArchivesExtractWithUNZIP) {
  int checked = 0;
  for (const auto& [archive, expected] : manifest_) {
    if (!expected.password.empty()) continue;
    ziptest::Scratch dir;
    const std::string out = dir / "out";
    const std::string path = archives_dir() + "/" + archive;
    EXPECT_EQ(UNZIP(path.c_str(), out.c_str()), 1.0);
    check_extracted(archive, expected, out);
    ++checked;
  }
  EXPECT_GE(checked, 6);
}

TEST_F(Interop, SevenZipCipherThroughTheHandleApi) {
  for (const auto& [archive, expected] : manifest_) {
    if (expected.password.empty()) continue;
    const std::string path = archives_dir() + "/" + archive;
    ziptest::Scratch dir;
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
  }
}
