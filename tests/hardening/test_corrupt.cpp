// Broken archives: the sample cut at every byte, cut inside its entries'
// data with the directory kept, and with every header byte changed. Each
// variant is opened, walked and extracted to memory and to files; every call
// must return, nothing may land outside the extraction folder, and a result
// of success must come with the entry's true bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/dir.h"
#include "support/testkit.h"
#include "support/zip_builder.h"
#include "zip/api/close_handle.h"
#include "zip/read/reader.h"

using namespace quillon;
using ziptest::Sample;

namespace {

// Extraction goes three levels below the scratch folder, so that a path
// that climbs out of it still lands where the listing below sees it.
class Breaker {
 public:
  explicit Breaker(const Sample& sample) : sample_(sample) {
    base_ = dir_ / "x/y/base";
    testkit::write_file(dir_ / "keep.txt", "untouched");
  }

  // Runs the whole reading API over one variant of the archive.
  void run(const std::string& bytes, bool from_file) {
    ++variants_;
    HZIP h = nullptr;
    if (from_file) {
      const std::string path = dir_ / "variant.zip";
      ASSERT_TRUE(testkit::write_file(path, bytes));
      h = OpenZip(path.c_str(), ziptest::kPassword);
    } else {
      h = OpenZip(bytes.data(), static_cast<uint32_t>(bytes.size()), ziptest::kPassword);
    }
    if (h == nullptr) return;
    ++opened_;
    SetUnzipBaseDir(h, base_.c_str());
    ZIPENTRY ze;
    ASSERT_EQ(GetZipItem(h, -1, &ze), ZIPR_OK);
    const int count = ze.index;
    for (int i = 0; i < count && i < 70000; ++i) {
      const ZIPRESULT got = GetZipItem(h, i, &ze);
      const SampleEntry* original = i < static_cast<int>(sample_.entries.size()) ? &sample_.entries[i] : nullptr;
      std::string data;
      const size_t size = got == ZIPR_OK ? ze.uncompressed_size : original ? original->data.size() : 0;
      if (to_memory(h, i, size, &data) == ZIPR_OK && original != nullptr) {
        ++ok_;
        EXPECT_EQ(data, original->data) << "entry " << i << " reported whole from memory";
      }
      if (got != ZIPR_OK) {
        EXPECT_NE(UnzipItem(h, i, "never-made"), ZIPR_OK);
        continue;
      }
      const ZIPRESULT r = UnzipItem(h, i, ze.name);
      if (r == ZIPR_OK && original != nullptr && !(ze.attributes & 0x10)) {
        OutputPath out;
        ASSERT_TRUE(MakeOutputPath(ze.name, &out));
        EXPECT_EQ(testkit::read_file(base_ + "/" + out.dirs + out.file), original->data)
            << "entry " << i << " reported whole as file " << ze.name;
      }
    }
    CloseZipU(h);
  }

  // Memory extraction in pieces until the entry ends or fails; a stalled
  // stream (more data forever) would be a fault, so the pieces are bounded.
  // The call that ends an entry leaves what was left of it at the start of
  // the block: the entry's size tells how much.
  ZIPRESULT to_memory(HZIP h, int i, size_t size, std::string* data) {
    char buf[1000];
    ZIPRESULT r = ZIPR_MOREDATA;
    for (int pieces = 0; r == ZIPR_MOREDATA; ++pieces) {
      if (pieces > 10000) {
        ADD_FAILURE() << "entry " << i << " never ends";
        return r;
      }
      r = UnzipItem(h, i, buf, sizeof buf);
      if (r == ZIPR_MOREDATA) data->append(buf, sizeof buf);
      if (r == ZIPR_OK && size > data->size()) data->append(buf, std::min(size - data->size(), sizeof buf));
    }
    return r;
  }

  // Everything in the scratch folder but the archive and the marker file
  // lies inside the extraction folder.
  void check_tree() {
    std::vector<std::string> found;
    list(dir_.path(), "", &found);
    for (const std::string& p : found) {
      const bool allowed = p == "keep.txt" || p == "variant.zip" || p == "x/" || p == "x/y/" ||
                           p.compare(0, 9, "x/y/base/") == 0;
      EXPECT_TRUE(allowed) << "written outside the folder: " << p;
    }
    EXPECT_EQ(testkit::read_file(dir_ / "keep.txt"), "untouched");
  }

  void report(const char* what) const {
    std::printf("%s: %d variants, %d opened, %d entries whole from memory\n", what, variants_, opened_, ok_);
  }

 private:
  using SampleEntry = ziptest::SampleEntry;

  static void list(const std::string& root, const std::string& rel, std::vector<std::string>* out) {
    std::vector<std::string> names;
    if (qp::Listing* l = qp::open_listing((root + rel).c_str())) {
      while (const char* n = qp::next_entry(l)) {
        const std::string name = n;
        if (name != "." && name != "..") names.push_back(name);
      }
      qp::close_listing(l);
    }
    for (const std::string& n : names) {
      if (testkit::is_directory(root + rel + n)) {
        out->push_back(rel + n + "/");
        list(root, rel + n + "/", out);
      } else {
        out->push_back(rel + n);
      }
    }
  }

  const Sample& sample_;
  testkit::ScratchDir dir_;
  std::string base_;
  int variants_ = 0, opened_ = 0, ok_ = 0;
};

}  // namespace

namespace {

// The three changes made to a byte: inverted, cleared, and set to 0x7F.
std::vector<std::string> changes_at(const std::string& bytes, size_t at) {
  std::vector<std::string> out;
  for (int kind = 0; kind < 3; ++kind) {
    const unsigned char old = static_cast<unsigned char>(bytes[at]);
    const unsigned char now = kind == 0 ? old ^ 0xFF : kind == 1 ? 0x00 : 0x7F;
    if (now == old) continue;
    std::string b = bytes;
    b[at] = static_cast<char>(now);
    out.push_back(b);
  }
  return out;
}

}  // namespace

TEST(CorruptArchives, TheSampleItselfReadsWhole) {
  const Sample s = ziptest::make_sample();
  ASSERT_EQ(s.entries.size(), 4u);
  ASSERT_EQ(s.headers.size(), 9u);
  Breaker b(s);
  b.run(s.bytes, false);
  b.run(s.bytes, true);
  b.check_tree();
  // The encrypted entry's flags: enciphered, sizes in a data descriptor.
  EXPECT_EQ(testkit::get16(s.bytes, s.headers[6].first + 6), 0x0009u);
}

TEST(CorruptArchives, CutAtEveryByte) {
  const Sample s = ziptest::make_sample();
  Breaker b(s);
  for (size_t keep = 0; keep < s.bytes.size(); ++keep) {
    b.run(s.bytes.substr(0, keep), keep % 16 == 0);
    ASSERT_FALSE(HasFatalFailure());
  }
  b.check_tree();
  b.report("cuts");
}

TEST(CorruptArchives, EntriesCutShortWithTheDirectoryKept) {
  const Sample s = ziptest::make_sample();
  Breaker b(s);
  for (size_t keep = 0; keep < s.directory_offset; ++keep) {
    b.run(ziptest::cut_inside_data(s, keep), keep % 16 == 0);
    ASSERT_FALSE(HasFatalFailure());
  }
  b.check_tree();
  b.report("data cuts");
}

TEST(CorruptArchives, EveryHeaderByteChanged) {
  const Sample s = ziptest::make_sample();
  Breaker b(s);
  for (const auto& range : s.headers) {
    for (size_t at = range.first; at < range.second; ++at) {
      for (const std::string& v : changes_at(s.bytes, at)) {
        b.run(v, false);
        ASSERT_FALSE(HasFatalFailure());
      }
    }
  }
  b.check_tree();
  b.report("header flips");
}

// The heavier run (label slow): larger entries, every byte of the archive
// changed, data included, and every cut read from a file as well.
TEST(CorruptArchivesSlow, EveryByteChangedAndEveryCutFromAFile) {
  const Sample s = ziptest::make_sample(40);
  Breaker b(s);
  for (size_t at = 0; at < s.bytes.size(); ++at) {
    for (const std::string& v : changes_at(s.bytes, at)) {
      b.run(v, false);
      ASSERT_FALSE(HasFatalFailure());
    }
  }
  for (size_t keep = 0; keep < s.bytes.size(); keep += 7) {
    b.run(s.bytes.substr(0, keep), true);
    b.run(ziptest::cut_inside_data(s, keep < s.directory_offset ? keep : s.directory_offset), true);
    ASSERT_FALSE(HasFatalFailure());
  }
  b.check_tree();
  b.report("slow");
}

TEST(CorruptArchives, LookupsAfterAWalkStoppedAtADamagedRecord) {
  const Sample s = ziptest::make_sample();
  std::string z = s.bytes;
  z[s.headers[5].first] = 'X';  // the third entry's central signature
  HZIP h = OpenZip(z.data(), static_cast<uint32_t>(z.size()), nullptr);
  ASSERT_NE(h, nullptr);
  ZIPENTRY ze;
  EXPECT_EQ(GetZipItem(h, 3, &ze), ZIPR_CORRUPT);  // the walk stops at the third
  // Entries before the damage are still found by name.
  int index = -1;
  EXPECT_EQ(FindZipItem(h, "deflated.txt", false, &index, &ze), ZIPR_OK);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(FindZipItem(h, "secret.txt", false, &index, nullptr), ZIPR_NOTFOUND);
  EXPECT_EQ(index, -1);
  CloseZipU(h);

  // An end record that states no entries has none to find, whatever lies
  // where its directory would begin.
  z = s.bytes;
  z[z.size() - 22 + 8] = z[z.size() - 22 + 10] = 0;
  h = OpenZip(z.data(), static_cast<uint32_t>(z.size()), nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(FindZipItem(h, "stored.zip", false, &index, nullptr), ZIPR_NOTFOUND);
  CloseZipU(h);
}
