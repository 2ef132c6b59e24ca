// The 22 exports called as a careless host might call them: null texts (each
// argument in turn, and all at once), empty texts, texts of 1 MiB, paths of
// 300 and 5,000 characters, paths that do not exist or lie under a file, and
// numbers that are not numbers. Nothing may crash; where a failure result is
// defined it must be the one returned, and nothing may be created.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "platform/dir.h"
#include "quillon.h"
#include "support/testkit.h"
#include "support/zip_builder.h"

namespace {

int g_calls = 0;
#define CALL(expr) (++g_calls, (expr))

const std::string kMiB(1 << 20, 'x');

std::string nested_path(size_t n) {
  std::string p;
  while (p.size() < n) p += "d123456789/";
  p.resize(n);
  return p;
}

// The texts that no file function can use: null, empty, huge, too long,
// missing, and under a file.
std::vector<const char*> bad_paths() {
  static const std::string p300 = nested_path(300), p5000 = nested_path(5000), flat300(300, 'f');
  return {nullptr, "", kMiB.c_str(), p300.c_str(), p5000.c_str(), flat300.c_str(), "missing/none.txt",
          "file.txt/x"};
}

std::string show(const char* s) {
  if (s == nullptr) return "null";
  return std::strlen(s) > 40 ? std::to_string(std::strlen(s)) + " characters" : "\"" + std::string(s) + "\"";
}

std::set<std::string> names_in(const std::string& dir) {
  const std::vector<std::string> names = testkit::entry_names(dir);
  return std::set<std::string>(names.begin(), names.end());
}

class Torture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testkit::write_file(dir_ / "file.txt", "line one\nline two\n"));
    ASSERT_TRUE(testkit::write_file(dir_ / "key.bin", std::string(40, '\x33')));
    ASSERT_TRUE(testkit::write_file(dir_ / "a.zip", ziptest::make_sample().bytes));
    MKDIR2((dir_ / "sub").c_str());
    ASSERT_EQ(CD(dir_.path().c_str()), 1);
    before_ = names_in(".");
  }
  void TearDown() override { std::printf("%d export calls so far\n", g_calls); }

  // Nothing appeared in the scratch folder but `allowed`.
  void expect_nothing_new(const std::set<std::string>& allowed = {}) {
    for (const std::string& n : names_in(".")) {
      if (before_.count(n) || allowed.count(n)) continue;
      ADD_FAILURE() << "created: " << n;
      testkit::remove_tree(dir_ / n);
    }
  }

  testkit::ScratchDir dir_;
  std::set<std::string> before_;
};

}  // namespace

TEST_F(Torture, Numbers) {
  const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
  EXPECT_TRUE(std::isnan(CALL(add(nan, 1))));
  EXPECT_TRUE(std::isnan(CALL(add(1, nan))));
  EXPECT_TRUE(std::isnan(CALL(add(inf, -inf))));
  EXPECT_EQ(CALL(add(inf, 1e308)), inf);
  EXPECT_EQ(CALL(add(-inf, -1)), -inf);
  EXPECT_EQ(CALL(add(1.7976931348623157e308, 1.7976931348623157e308)), inf);
  EXPECT_EQ(CALL(add(1e308, -1e308)), 0.0);
  EXPECT_TRUE(std::signbit(CALL(add(-0.0, -0.0))));
  EXPECT_EQ(CALL(add(4.9406564584124654e-324, 4.9406564584124654e-324)), 9.8813129168249309e-324);
  EXPECT_EQ(CALL(add(1.5, 2.25)), 3.75);
}

TEST_F(Torture, Directories) {
  const std::string cwd = testkit::current_dir();
  for (const char* p : bad_paths()) {
    EXPECT_EQ(CALL(CD(p)), 1) << show(p);
    EXPECT_EQ(testkit::current_dir(), cwd) << show(p);
    EXPECT_EQ(CALL(MKDIR2(p)), 1) << show(p);
    EXPECT_EQ(CALL(RMDIR2(p)), 1) << show(p);
  }
  EXPECT_EQ(CALL(RMDIR2("file.txt")), 1);  // a file is no folder
  EXPECT_EQ(CALL(RMDIR2(".")), 1);
  EXPECT_EQ(CALL(CD("file.txt")), 1);
  EXPECT_EQ(testkit::current_dir(), cwd);
  expect_nothing_new();
  EXPECT_EQ(testkit::read_file("file.txt"), "line one\nline two\n");
}

TEST_F(Torture, RemovingTheFilesOfTheCurrentFolder) {
  // Only ever inside a folder of the scratch folder.
  MKDIR2("victims");
  MKDIR2("victims/kept");
  testkit::write_file("victims/one", "1");
  testkit::write_file("victims/kept/two", "2");
  ASSERT_EQ(CD("victims"), 1);
  EXPECT_EQ(CALL(RMDIR()), 1);
  EXPECT_EQ(names_in("."), std::set<std::string>{"kept"});
  EXPECT_EQ(CALL(RMDIR()), 1);  // nothing left to delete
  ASSERT_EQ(CD(".."), 1);
  EXPECT_EQ(testkit::read_file("victims/kept/two"), "2");
#ifndef _WIN32
  // A current folder that no longer exists cannot be listed: the message,
  // and 1 all the same.
  MKDIR2("gone");
  ASSERT_EQ(CD("gone"), 1);
  RMDIR2((dir_ / "gone").c_str());
  EXPECT_EQ(CALL(RMDIR()), 1);
  ASSERT_EQ(CD(dir_.path().c_str()), 1);
#endif
  expect_nothing_new({"victims"});
}

TEST_F(Torture, FileCopiesAndFirstLines) {
  for (const char* p : bad_paths()) {
    EXPECT_EQ(CALL(T2GMT(p, "out.txt")), 0) << show(p);
    EXPECT_EQ(CALL(T2GMT("file.txt", p)), 0) << show(p);
    EXPECT_EQ(CALL(T2GMT(p, p)), 0) << show(p);
    EXPECT_EQ(CALL(makeBuffer(p)), nullptr) << show(p);
  }
  EXPECT_EQ(CALL(makeBuffer("sub")), nullptr);  // a folder is not read
  EXPECT_EQ(CALL(T2GMT("sub", "out.txt")), 0);
  EXPECT_EQ(CALL(T2GMT("file.txt", "sub")), 0);
  expect_nothing_new();
  EXPECT_EQ(CALL(T2GMT("file.txt", "out.txt")), 1);
  EXPECT_EQ(testkit::read_file("out.txt"), "line one#line two#");
  EXPECT_STREQ(CALL(makeBuffer("out.txt")), "line one#line two");
}

TEST_F(Torture, KeyFilesAndEncryption) {
  const std::string data = testkit::read_file("file.txt");
  const double passes = double(data.size() + 1);
  // Each path argument in turn, then every argument at once.
  for (const char* p : bad_paths()) {
    const std::string s = show(p);
    EXPECT_EQ(CALL(QCRYPT_makeKeys(p, "k1", "k2", "abcd")), 0) << s;
    EXPECT_EQ(CALL(QCRYPT_makeKeys("file.txt", p, "k2", "abcd")), 0) << s;
    EXPECT_EQ(CALL(QCRYPT_makeKeys("file.txt", "k1", p, "abcd")), 0) << s;
    EXPECT_EQ(CALL(QCRYPT_makeKeys(p, p, p, p)), 0) << s;
    EXPECT_EQ(CALL(QCRYPT_combineKeys("c", p, "key.bin", "abcd")), 0) << s;
    EXPECT_EQ(CALL(QCRYPT_combineKeys("c", "key.bin", p, "abcd")), 0) << s;
    EXPECT_EQ(CALL(QCRYPT_combineKeys(p, "key.bin", "key.bin", "abcd")), 0) << s;
    EXPECT_EQ(CALL(QCRYPT_combineKeys(p, p, p, p)), 0) << s;
    EXPECT_EQ(CALL(QCRYPT_combineKeys2(p, "file.txt", "key.bin")), 0) << s;
    EXPECT_EQ(CALL(QCRYPT_combineKeys2("c2", p, "key.bin")), 0) << s;
    EXPECT_EQ(CALL(QCRYPT_combineKeys2("c2", "file.txt", p)), 0) << s;
    EXPECT_EQ(CALL(QCRYPT_combineKeys2(p, p, p)), 0) << s;
    EXPECT_EQ(CALL(QCRYPT_encrypt(p, "e", "key.bin")), 0) << s;
    EXPECT_EQ(CALL(QCRYPT_encrypt("file.txt", p, "key.bin")), 0) << s;
    EXPECT_EQ(CALL(QCRYPT_encrypt("file.txt", "e", p)), 0) << s;
    EXPECT_EQ(CALL(QCRYPT_encrypt(p, p, p)), 0) << s;
    EXPECT_EQ(CALL(QCRYPT_encrypt2(p, "e2", "key.bin", "key.bin")), 0) << s;
    EXPECT_EQ(CALL(QCRYPT_encrypt2("file.txt", p, "key.bin", "key.bin")), 0) << s;
    EXPECT_EQ(CALL(QCRYPT_encrypt2("file.txt", "e2", p, "key.bin")), 0) << s;
    EXPECT_EQ(CALL(QCRYPT_encrypt2("file.txt", "e2", "key.bin", p)), 0) << s;
    EXPECT_EQ(CALL(QCRYPT_encrypt2(p, p, p, p)), 0) << s;
    EXPECT_EQ(CALL(QCRYPT_decrypt(p, "file.txt", "key.bin")), 0) << s;
    EXPECT_EQ(CALL(QCRYPT_decrypt("d", p, "key.bin")), 0) << s;
    EXPECT_EQ(CALL(QCRYPT_decrypt("d", "file.txt", p)), 0) << s;
    EXPECT_EQ(CALL(QCRYPT_decrypt(p, p, p)), 0) << s;
  }
  // The key text is a text, not a path: only a null one fails; the first
  // four bytes of any other make the key.
  EXPECT_EQ(CALL(QCRYPT_makeKeys("file.txt", "k1", "k2", nullptr)), 0);
  EXPECT_EQ(CALL(QCRYPT_combineKeys("c", "key.bin", "key.bin", nullptr)), 0);
  // Outputs that an input names are refused (the output would be emptied
  // before it is read).
  EXPECT_EQ(CALL(QCRYPT_encrypt("file.txt", "file.txt", "key.bin")), 0);
  EXPECT_EQ(CALL(QCRYPT_decrypt("key.bin", "file.txt", "key.bin")), 0);
  EXPECT_EQ(testkit::read_file("file.txt"), data);
  // Inputs that are folders are refused like missing files.
  EXPECT_EQ(CALL(QCRYPT_encrypt("sub", "e", "key.bin")), 0);
  EXPECT_EQ(CALL(QCRYPT_makeKeys("sub", "k1", "k2", "abcd")), 0);
  // Outputs made before a later open failed may stay (k1, c, d), as they
  // would with any missing file; nothing else appears.
  expect_nothing_new({"k1", "c", "d"});

  for (const char* key_text : {"", kMiB.c_str(), "ab"}) {
    EXPECT_EQ(CALL(QCRYPT_makeKeys("file.txt", "k1", "k2", key_text)), passes);
    EXPECT_EQ(CALL(QCRYPT_combineKeys("c", "k1", "k2", key_text)), passes + 1);
  }
}

TEST_F(Torture, Digests) {
  for (auto* f : {&HASHmd5, &HASHsha1}) EXPECT_EQ(CALL(f(nullptr)), nullptr);
  EXPECT_STREQ(CALL(HASHmd5("")), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_STREQ(CALL(HASHsha1("")), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  const std::string a(1 << 20, 'a');
  EXPECT_STREQ(CALL(HASHmd5(a.c_str())), "7202826a7791073fe2787f0c94603278");
  EXPECT_STREQ(CALL(HASHsha1(a.c_str())), "454027d64e3b855735552d42230eea1cbd645fa0");
  for (const char* p : bad_paths()) {
    if (p == nullptr) continue;
    EXPECT_EQ(std::strlen(CALL(HASHmd5(p))), 32u);
    EXPECT_EQ(std::strlen(CALL(HASHsha1(p))), 40u);
  }
}

TEST_F(Torture, Archives) {
  // Archive or folder unusable: 0, and nothing is made. An empty folder
  // text stands for the current folder (tried below, inside "sub"). The
  // sample's encrypted item needs a password, so its extraction says 0.
  for (const char* p : bad_paths()) {
    EXPECT_EQ(CALL(UNZIP(p, "out")), 0) << show(p);
    EXPECT_EQ(CALL(UNZIP(p, p)), 0) << show(p);
    if (p != nullptr && *p == '\0') continue;
    EXPECT_EQ(CALL(UNZIP("a.zip", p)), 0) << show(p);
  }
  ASSERT_EQ(CD("sub"), 1);
  EXPECT_EQ(CALL(UNZIP("../a.zip", "")), 0);
  ASSERT_EQ(CD(".."), 1);
  EXPECT_EQ(testkit::read_file("sub/deflated.txt"), ziptest::make_sample().entries[1].data);
  EXPECT_EQ(CALL(UNZIP("sub", "out")), 0);
  EXPECT_EQ(CALL(UNZIP("file.txt", "out")), 0);
  expect_nothing_new();

  // ZIP: an archive that cannot be made leaves nothing; a folder that cannot
  // be listed leaves an empty archive. Both say 0.
  for (const char* p : bad_paths()) {
    EXPECT_EQ(CALL(ZIP(p, ".")), 0) << show(p);
    EXPECT_EQ(CALL(ZIP(p, p)), 0) << show(p);
    expect_nothing_new({"empty.zip"});
    EXPECT_EQ(CALL(ZIP("empty.zip", p)), 0) << show(p);
    EXPECT_EQ(testkit::read_file("empty.zip").size(), 22u) << show(p);
  }
  EXPECT_EQ(CALL(ZIP("sub", ".")), 0);  // a folder is no archive file
  EXPECT_TRUE(testkit::is_directory("sub"));
  expect_nothing_new({"empty.zip"});

  // And the sound calls still work after all that (but for the encrypted item).
  EXPECT_EQ(CALL(UNZIP("a.zip", "out")), 0);
  EXPECT_EQ(testkit::read_file("out/deflated.txt"), ziptest::make_sample().entries[1].data);
}

// The window exports where no display can show a window: each returns its
// no-display result at once, whatever its numbers and texts. Under Wine a
// window would open and wait, so these run on Linux only, in a process
// without DISPLAY and WAYLAND_DISPLAY (the CTest entry clears both).
TEST_F(Torture, WindowsWithoutADisplay) {
#ifdef _WIN32
  GTEST_SKIP() << "a window would open";
#else
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((display && *display) || (wayland && *wayland)) GTEST_SKIP() << "a display is set";
  const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
  const std::vector<const char*> texts = {nullptr, "", kMiB.c_str(), "title"};
  const std::vector<double> sizes = {nan, inf, -inf, 1e300, -1e300, -5, 0, 55.9, 400, 2147483648.0};
  for (const char* t : texts) {
    EXPECT_EQ(CALL(GUI_show_message(t)), 1);
    EXPECT_EQ(CALL(GUI_show_question(t)), 0);
  }
  for (const char* t : texts) {
    for (const char* m : {static_cast<const char*>(nullptr), "", "no-such-module", "libquillon"}) {
      for (double s : sizes) {
        EXPECT_EQ(CALL(GUI_make_window(t, m, s, -s)), 0);
        EXPECT_STREQ(CALL(GUI_make_window_notepad(t, m, s, t)), "error");
        EXPECT_STREQ(CALL(GUI_get_string(t, m, s, t)), "error");
      }
    }
  }
#endif
}
