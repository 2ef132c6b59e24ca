// The ZIP and UNZIP exports with 1, 2 and 8 threads: byte-identical archives,
// identical trees on disk, and failures that come out as they do with one
// thread.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/dir.h"
#include "platform/file.h"
#include "platform/fileinfo.h"
#include "platform/random.h"
#include "support/testkit.h"
#include "support/zip_builder.h"
#include "zip/api/close_handle.h"
#include "zip/api/export_threads.h"
#include "zip/api/unzip_export.h"
#include "zip/api/zip_export.h"
#include "zip/format/zip_result.h"
#include "zip/read/directory.h"
#include "zip/read/reader.h"
#include "zip/write/writer.h"
#include "zip/write/pack_parallel.h"

using namespace quillon;
using testkit::ScratchDir;

namespace {

const unsigned kThreadCounts[] = {2, 8};

// The names the driver printed, in order.
std::vector<std::string> printed;
void print_name(const char* name) { printed.emplace_back(name); }

// Bytes that deflate to anything from nothing to a lot: runs of words from
// a small vocabulary, or noise.
std::string make_bytes(std::mt19937& rng, size_t n, bool noise) {
  static const char* const kWords[] = {"alpha ", "beta ", "gamma ", "delta\n", "epsilon ", "zeta, ", "eta; "};
  std::string s;
  s.reserve(n);
  while (s.size() < n) {
    if (noise) {
      s += static_cast<char>(rng() & 0xFF);
    } else {
      s += kWords[rng() % 7];
    }
  }
  s.resize(n);
  return s;
}

// A random folder: many small files, a few large ones, empty files, a file
// that is stored rather than deflated, and sub-folders (which ZIP skips).
void make_tree(const std::string& dir, unsigned seed) {
  std::mt19937 rng(seed);
  ASSERT_TRUE(qp::make_directory(dir.c_str()));
  for (int i = 0; i < 150; ++i)
    testkit::write_file(dir + "/small" + std::to_string(i) + ".txt", make_bytes(rng, rng() % 6000, rng() % 4 == 0));
  for (int i = 0; i < 3; ++i)
    testkit::write_file(dir + "/large" + std::to_string(i) + ".bin", make_bytes(rng, 300000 + rng() % 300000, i == 1));
  for (int i = 0; i < 4; ++i) testkit::write_file(dir + "/empty" + std::to_string(i), "");
  testkit::write_file(dir + "/packed.zip", make_bytes(rng, 90000, false));
  // A name beyond ASCII (UTF-8), which workers open as the calling thread would.
  const std::string utf8_name = dir + "/na\xC3\xAFve-\xE2\x82\xAC.txt";
  qp::Handle h = qp::create_exclusive_utf8(utf8_name.c_str(), 0);
  ASSERT_TRUE(qp::is_valid(h));
  const std::string text = make_bytes(rng, 30000, false);
  uint32_t done = 0;
  qp::write_file(h, text.data(), static_cast<uint32_t>(text.size()), &done);
  qp::close_handle(h);
  ASSERT_TRUE(qp::make_directory((dir + "/sub").c_str()));
  testkit::write_file(dir + "/sub/inner.txt", "inside");
}

// Each file under `dir` with its bytes and times, and each folder.
void snapshot(const std::string& dir, const std::string& rel, std::map<std::string, std::string>* out) {
  const std::vector<std::string> names = testkit::entry_names(dir);
  for (const std::string& n : names) {
    const std::string path = dir + "/" + n, key = rel + n;
    const uint32_t attr = qp::get_file_attributes(path.c_str());
    if (attr & qp::kAttrDirectory) {
      (*out)[key + "/"] = "folder";
      snapshot(path, key + "/", out);
      continue;
    }
    qp::FileInfo fi;
    qp::Handle h = qp::open_read_shared(path.c_str());
    ASSERT_TRUE(qp::is_valid(h)) << path;
    ASSERT_TRUE(qp::get_file_info(h, &fi));
    qp::close_handle(h);
    // A file whose extraction failed keeps the time it was made at.
    const std::string times = n == "damaged.txt" ? std::string()
                                                 : " written " + std::to_string(fi.write_time) + " accessed " +
                                                       std::to_string(fi.access_time);
    (*out)[key] = "attr " + std::to_string(attr) + times + " bytes " + testkit::read_file(path);
  }
}

std::map<std::string, std::string> snapshot(const std::string& dir) {
  std::map<std::string, std::string> out;
  snapshot(dir, "", &out);
  return out;
}

// The first path where two snapshots differ, for the failure message.
std::string first_difference(const std::map<std::string, std::string>& a,
                             const std::map<std::string, std::string>& b) {
  for (const auto& [path, what] : a) {
    auto it = b.find(path);
    if (it == b.end()) return path + " only in the first";
    if (it->second != what) return path + ": " + what.substr(0, 80) + " | " + it->second.substr(0, 80);
  }
  for (const auto& [path, what] : b)
    if (!a.count(path)) return path + " only in the second";
  return "";
}

// Packs the current directory with the ZIP export's body.
std::string zip_here(const std::string& archive, unsigned threads) {
  zip_folder(archive.c_str(), ".", threads);
  return testkit::read_file(archive);
}

// An archive made with the library itself, holding what the one-thread
// extraction must reproduce: folders before and after what they hold,
// duplicate names (the later wins), names equal but for case, a file whose
// name another entry needs as a folder (both ways round), and a damaged entry.
std::string make_archive(const std::string& path, std::mt19937& rng) {
  HZIP h = CreateZip(path.c_str(), nullptr);
  EXPECT_NE(h, nullptr);
  ZipAddFolder(h, "docs");
  for (int i = 0; i < 120; ++i) {
    const std::string data = make_bytes(rng, rng() % 5000, i % 5 == 0);
    const std::string name = (i % 3 == 0 ? "docs/" : i % 3 == 1 ? "deep/er/" : "") + std::to_string(i) + ".txt";
    ZipAdd(h, name.c_str(), data.data(), static_cast<uint32_t>(data.size()));
  }
  for (int i = 0; i < 2; ++i) {
    const std::string data = make_bytes(rng, 400000, i == 0);
    ZipAdd(h, ("big" + std::to_string(i)).c_str(), data.data(), static_cast<uint32_t>(data.size()));
  }
  ZipAdd(h, "twice.txt", "first", 5);
  ZipAdd(h, "Case.txt", "upper", 5);
  ZipAdd(h, "docs/5.txt", "a later copy", 12);
  ZipAdd(h, "case.txt", "lower", 5);
  ZipAdd(h, "twice.txt", "second", 6);
  ZipAdd(h, "plain", "a file", 6);
  ZipAdd(h, "plain/below.txt", "needs plain as a folder", 23);
  ZipAdd(h, "later/below.txt", "made first", 10);
  ZipAdd(h, "later", "a file where a folder is", 24);
  ZipAddFolder(h, "empty-folder");
  ZipAddFolder(h, "deep");
  const std::string damaged = make_bytes(rng, 40000, false);
  ZipAdd(h, "damaged.txt", damaged.data(), static_cast<uint32_t>(damaged.size()));
  EXPECT_EQ(CloseZipZ(h), ZIPR_OK);
  // Damage the last entry's deflated data, halfway through.
  std::string bytes = testkit::read_file(path);
  const size_t at = bytes.rfind("damaged.txt");
  const size_t local = bytes.rfind("damaged.txt", at - 1);
  EXPECT_NE(local, std::string::npos);
  for (size_t i = local + 40; i < local + 80; ++i) bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
  testkit::write_file(path, bytes);
  return bytes;
}

}  // namespace

TEST(ParallelZip, ArchivesAreByteIdenticalForEveryThreadCount) {
  ScratchDir dir;
  make_tree(dir / "tree", 17);
  ASSERT_EQ(qp::change_directory((dir / "tree").c_str()), 0);
  // The first read of a fresh file may move its access time, which the
  // archive records: one pass before the runs that are compared.
  zip_here(dir / "warm.zip", 1);
  const std::string one = zip_here(dir / "one.zip", 1);
  ASSERT_GT(one.size(), 400000u);
  EXPECT_NE(one.find("na\xC3\xAFve-\xE2\x82\xAC.txt"), std::string::npos);
  for (unsigned threads : kThreadCounts) {
    EXPECT_TRUE(zip_here(dir / ("n" + std::to_string(threads) + ".zip"), threads) == one) << threads << " threads";
  }
  // The archive written into the folder it packs is skipped in every case.
  const std::string inside = zip_here("self.zip", 1);
  EXPECT_TRUE(zip_here("self.zip", 8) == inside);
}

TEST(ParallelZip, SmallBudgetsGiveLargeFilesToTheCallingThread) {
  ScratchDir dir;
  make_tree(dir / "tree", 29);
  ASSERT_EQ(qp::change_directory((dir / "tree").c_str()), 0);
  std::vector<std::string> names;
  qp::Listing* l = qp::open_listing_utf8(".");
  ASSERT_NE(l, nullptr);
  while (const char* n = qp::next_entry(l)) names.emplace_back(n);
  qp::close_listing(l);
  auto pack = [&](const std::string& path, unsigned threads, uint64_t budget, const char* password = nullptr) {
    // Every run draws the same encryption headers.
    has_seeded = true;
    qp::seed_random(7);
    HZIP h = CreateZip(path.c_str(), password);
    if (threads == 1) {
      for (const std::string& n : names) ZipAddUtf8(h, n.c_str(), n.c_str());
    } else {
      zip_add_files_parallel(h, names, threads, print_name, budget);
    }
    EXPECT_EQ(CloseZipZ(h), ZIPR_OK);
    return testkit::read_file(path);
  };
  pack(dir / "warm.zip", 1, 0);
  const std::string one = pack(dir / "one.zip", 1, 0);
  // Budgets below the large files, below most small ones, and none at all.
  for (uint64_t budget : {uint64_t(250000), uint64_t(5000), uint64_t(0)}) {
    for (unsigned threads : kThreadCounts) {
      printed.clear();
      EXPECT_TRUE(pack(dir / "n.zip", threads, budget) == one) << threads << " threads, budget " << budget;
      EXPECT_EQ(printed, names);  // every name, in listing order
    }
  }
  // With a password, the items that workers encoded are enciphered as they
  // are written, like those the calling thread adds.
  const std::string locked = pack(dir / "locked.zip", 1, 0, "secret");
  EXPECT_FALSE(locked == one);
  for (unsigned threads : kThreadCounts) {
    EXPECT_TRUE(pack(dir / "n.zip", threads, kInFlightBudget, "secret") == locked) << threads << " threads";
  }
}

TEST(ParallelZip, FailuresComeOutAsWithOneThread) {
  ScratchDir dir;
  make_tree(dir / "tree", 41);
  ASSERT_EQ(qp::change_directory((dir / "tree").c_str()), 0);
  // A file that cannot be opened: another open holds it without sharing.
  qp::Handle held = qp::open_read_write("small7.txt");
  ASSERT_TRUE(qp::is_valid(held));
  zip_here(dir / "warm.zip", 1);
  const std::string one = zip_here(dir / "one.zip", 1);
  const ZIPRESULT one_last = lasterrorZ;
  for (unsigned threads : kThreadCounts) {
    EXPECT_TRUE(zip_here(dir / "n.zip", threads) == one) << threads << " threads";
    EXPECT_EQ(lasterrorZ, one_last);
  }
  // The file left out makes the result 0, with any thread count.
  for (unsigned threads : {1u, 2u, 8u}) EXPECT_EQ(zip_folder((dir / "r.zip").c_str(), ".", threads), 0.0) << threads;
  EXPECT_EQ(one.find("small7.txt"), std::string::npos);
  qp::close_handle(held);
#ifndef _WIN32
  // An output that refuses every byte: each add fails as it does in one
  // thread, and so does the close.
  auto full = [&](unsigned threads) {
    std::vector<std::string> names = {"small1.txt", "large0.bin", "small2.txt", "packed.zip", "empty0"};
    HZIP h = CreateZip("/dev/full", nullptr);
    EXPECT_NE(h, nullptr);
    if (threads == 1) {
      for (const std::string& n : names) ZipAddUtf8(h, n.c_str(), n.c_str());
    } else {
      zip_add_files_parallel(h, names, threads, print_name);
    }
    const ZIPRESULT last_add = lasterrorZ;
    return std::make_pair(last_add, CloseZipZ(h));
  };
  const auto one_full = full(1);
  EXPECT_EQ(one_full.first, ZIPR_PREVIOUSERROR);
  EXPECT_NE(one_full.second, ZIPR_OK);
  for (unsigned threads : kThreadCounts) EXPECT_EQ(full(threads), one_full) << threads << " threads";
#endif
}

TEST(ParallelUnzip, TreesAreIdenticalForEveryThreadCount) {
  ScratchDir dir;
  std::mt19937 rng(5);
  const std::string archive = dir / "a.zip";
  make_archive(archive, rng);
  unzip_archive(archive.c_str(), (dir / "one").c_str(), 1);
  const auto one = snapshot(dir / "one");
  ASSERT_GT(one.size(), 120u);
  EXPECT_EQ(one.count("twice.txt"), 1u);
  EXPECT_NE(one.at("twice.txt").find("bytes second"), std::string::npos);
  EXPECT_EQ(one.count("docs/"), 1u);
  EXPECT_EQ(one.count("empty-folder/"), 1u);
  for (unsigned threads : kThreadCounts) {
    const std::string out = dir / ("n" + std::to_string(threads));
    unzip_archive(archive.c_str(), out.c_str(), threads);
    EXPECT_EQ(first_difference(snapshot(out), one), "") << threads << " threads";
  }
  // Extracting over the tree left by an earlier run ends the same way too.
  unzip_archive(archive.c_str(), (dir / "one").c_str(), 1);
  unzip_archive(archive.c_str(), (dir / "n8").c_str(), 8);
  EXPECT_EQ(first_difference(snapshot(dir / "n8"), snapshot(dir / "one")), "");
}

TEST(ParallelUnzip, MissingAndDamagedArchivesAsWithOneThread) {
  ScratchDir dir;
  for (unsigned threads : {1u, 2u, 8u}) {
    const std::string out = dir / ("missing" + std::to_string(threads));
    EXPECT_EQ(unzip_archive((dir / "none.zip").c_str(), out.c_str(), threads), 0.0);
    EXPECT_FALSE(testkit::exists(out));
    EXPECT_EQ(lasterrorU, ZIPR_BADARGS);
  }
  // A central directory cut in the middle: what can be described is
  // extracted, the rest fails alike.
  std::mt19937 rng(9);
  std::string bytes = make_archive(dir / "a.zip", rng);
  const size_t central = bytes.find("PK\x01\x02");
  ASSERT_NE(central, std::string::npos);
  bytes[central + (bytes.size() - central) / 2] ^= 0x33;
  bytes[central + (bytes.size() - central) / 3] ^= 0x33;
  testkit::write_file(dir / "cut.zip", bytes);
  EXPECT_EQ(unzip_archive((dir / "cut.zip").c_str(), (dir / "one").c_str(), 1), 0.0);
  const auto one = snapshot(dir / "one");
  for (unsigned threads : kThreadCounts) {
    const std::string out = dir / ("n" + std::to_string(threads));
    EXPECT_EQ(unzip_archive((dir / "cut.zip").c_str(), out.c_str(), threads), 0.0);
    EXPECT_EQ(first_difference(snapshot(out), one), "") << threads << " threads";
  }
}

// An entry that fails part way leaves the file it would replace as it was;
// one whose bytes come out whole but do not match its CRC takes its place,
// as a new file's partial bytes do. No file of the work is left behind.
TEST(ParallelUnzip, FailedEntriesLeaveTheFilesTheyWouldReplace) {
  ScratchDir dir;
  // cut.txt breaks off after 80,000 of its bytes: two stored DEFLATE blocks,
  // then a block of the reserved type. crc.txt comes out whole but for one
  // byte.
  const std::string cut = ziptest::sample(100000);
  ziptest::Entry broken{"cut.txt", cut, 8};
  for (size_t at = 0; at < 80000; at += 40000)
    broken.deflated += std::string("\x00\x40\x9c\xbf\x63", 5) + cut.substr(at, 40000);
  broken.deflated += '\x07';
  ziptest::Layout zip = ziptest::build({broken, {"crc.txt", "the bytes as stored"}, {"fine.txt", "fine"}});
  zip.bytes[zip.local_offsets[1] + 30 + 7] ^= 0x20;
  testkit::write_file(dir / "a.zip", zip.bytes);
  for (unsigned threads : {1u, 8u}) {
    for (bool existing : {false, true}) {
      const std::string out = dir / ("n" + std::to_string(threads) + (existing ? "old" : "new"));
      ASSERT_TRUE(qp::make_directory(out.c_str()));
      if (existing)
        for (const char* name : {"cut.txt", "crc.txt", "fine.txt"}) testkit::write_file(out + "/" + name, "old");
      EXPECT_EQ(unzip_archive((dir / "a.zip").c_str(), out.c_str(), threads), 0.0);
      const std::string made = testkit::read_file(out + "/cut.txt");
      if (existing) {
        EXPECT_EQ(made, "old") << threads << " threads";
      } else {  // what there was of it where no file stood, as ever
        EXPECT_GT(made.size(), 16384u) << threads << " threads";
        EXPECT_TRUE(made.size() <= 80000 && made == cut.substr(0, made.size()));
      }
      EXPECT_EQ(testkit::read_file(out + "/crc.txt"), "The bytes as stored");
      EXPECT_EQ(testkit::read_file(out + "/fine.txt"), "fine");
      EXPECT_EQ(testkit::entry_names(out).size(), 3u) << "a file of the work left behind";
    }
  }
}

TEST(ParallelUnzip, ReadsPerEntryStayBoundedInAnyOrder) {
  // Each entry larger than the last: the workers take the heaviest first,
  // so they visit the entries against archive order. Reaching an entry must
  // cost the same few reads from anywhere, or the reads grow with the
  // square of the count.
  ScratchDir dir;
  constexpr int kEntries = 3000;
  std::vector<ziptest::Entry> entries;
  for (int i = 0; i < kEntries; ++i) entries.emplace_back("f" + std::to_string(i), std::string(i, 'a' + i % 26));
  const std::string archive = dir / "growing.zip";
  testkit::write_file(archive, ziptest::build_bytes(entries));
  for (unsigned threads : {1u, 8u}) {
    const std::string out = dir / ("n" + std::to_string(threads));
    const uint64_t before = source_reads_so_far();
    EXPECT_EQ(unzip_archive(archive.c_str(), out.c_str(), threads), 1.0);
    const uint64_t reads = source_reads_so_far() - before;
    // Each worker opens the archive (a few reads and the directory in
    // large pieces); each entry then takes a handful.
    EXPECT_LT(reads, 12u * kEntries + 100u * threads) << threads << " threads";
    EXPECT_EQ(testkit::read_file(out + "/f2999"), entries.back().data);
    EXPECT_EQ(testkit::read_file(out + "/f1"), "b");
  }
}

TEST(ParallelUnzip, NamesTheSystemMayTakeForOneFileRunInOneGroup) {
  // Pairs that a Windows file system may take for one file: letters that
  // fold to each other (dotless i, long s, micro and capital mu, the Kelvin
  // sign), a stream of a file, a short alias. The first of each pair is
  // large, so that apart from its partner it would still be written when
  // the partner is done.
  const char* const pairs[][2] = {{"\xC4\xB1.txt", "i.txt"},          {"\xC5\xBF.txt", "s.txt"},
                                  {"\xC2\xB5.txt", "\xCE\x9C.txt"},     {"\xE2\x84\xAA.txt", "k.txt"},
                                  {"a.txt", "a.txt::$DATA"},          {"longfilename.txt", "LONGFI~1.TXT"}};
  std::vector<ziptest::Entry> entries;
  for (const auto& pair : pairs) {
    entries.emplace_back(pair[0], ziptest::sample(1 << 20, 3), 8);
    entries.emplace_back(pair[1], std::string("second of ") + pair[1]);
  }
  for (ziptest::Entry& e : entries) e.more_flags = 0x800;
  ScratchDir dir;
  const std::string archive = dir / "pairs.zip";
  testkit::write_file(archive, ziptest::build_bytes(entries));
  // Under Wine a file reached again under a folded name has its access
  // time moved by the system after the library set it: the comparison
  // leaves access times out.
  auto contents = [](const std::string& folder) {
    std::map<std::string, std::string> m = snapshot(folder);
    for (auto& [path, what] : m) {
      const size_t at = what.find(" accessed ");
      if (at != std::string::npos) what.erase(at, what.find(' ', at + 10) - at);
    }
    return m;
  };
  unzip_archive(archive.c_str(), (dir / "one").c_str(), 1);
  const auto one = contents(dir / "one");
  EXPECT_GE(one.size(), 6u);
  for (int round = 0; round < 3; ++round) {
    const std::string out = dir / ("n" + std::to_string(round));
    unzip_archive(archive.c_str(), out.c_str(), 8);
    EXPECT_EQ(first_difference(contents(out), one), "") << "round " << round;
  }
}

TEST(ParallelExports, ThreadCountFromTheEnvironment) {
  auto set = [](const char* value) {
#ifdef _WIN32
    _putenv_s("QUILLON_THREADS", value ? value : "");
#else
    if (value) {
      setenv("QUILLON_THREADS", value, 1);
    } else {
      unsetenv("QUILLON_THREADS");
    }
#endif
  };
  set(nullptr);
  const unsigned by_default = export_thread_count();
  EXPECT_GE(by_default, 1u);
  EXPECT_LE(by_default, kDefaultThreadCap);
  set("1");
  EXPECT_EQ(export_thread_count(), 1u);
  set("3");
  EXPECT_EQ(export_thread_count(), 3u);
  set("many");
  EXPECT_EQ(export_thread_count(), by_default);
  set("0");
  EXPECT_EQ(export_thread_count(), by_default);
  set(nullptr);
}
