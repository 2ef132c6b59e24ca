#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>

#include "quillon.h"
#include "support/testkit.h"

using testkit::exists;
using testkit::read_file;
using testkit::ScratchDir;
using testkit::write_file;

TEST(Add, AddsInDoubleArithmetic) {
  EXPECT_EQ(add(1.5, 2.25), 3.75);
  EXPECT_EQ(add(-1e308, -1e308), -HUGE_VAL);
}

TEST(Directories, ChangeMakeAndRemoveAlwaysReturnOne) {
  ScratchDir dir;
  const std::string before = testkit::current_dir();
  EXPECT_EQ(CD((dir / "missing").c_str()), 1);
  EXPECT_EQ(testkit::current_dir(), before);
  EXPECT_EQ(CD(nullptr), 1);

  EXPECT_EQ(MKDIR2((dir / "no/parent").c_str()), 1);
  EXPECT_FALSE(exists(dir / "no"));
  EXPECT_EQ(MKDIR2((dir / "made").c_str()), 1);
  EXPECT_TRUE(testkit::is_directory(dir / "made"));
  EXPECT_EQ(MKDIR2((dir / "made").c_str()), 1);
  EXPECT_EQ(MKDIR2(nullptr), 1);

  write_file(dir / "made/file.txt", "x");
  EXPECT_EQ(RMDIR2((dir / "made").c_str()), 1);
  EXPECT_TRUE(testkit::is_directory(dir / "made"));
  EXPECT_EQ(RMDIR2(nullptr), 1);

  EXPECT_EQ(CD((dir / "made").c_str()), 1);
  EXPECT_NE(testkit::current_dir().find("made"), std::string::npos);
}

TEST(Directories, RmdirDeletesFilesOnlyAndNamesEveryEntry) {
  ScratchDir dir;
  write_file(dir / "one.txt", "1");
  write_file(dir / "two.bin", "22");
  // A read-only file stays on every system, whoever runs the call.
  write_file(dir / "kept.txt", "ro");
  std::filesystem::permissions(dir / "kept.txt", std::filesystem::perms::all, std::filesystem::perm_options::remove);
  std::filesystem::permissions(dir / "kept.txt", std::filesystem::perms::owner_read, std::filesystem::perm_options::add);
  MKDIR2((dir / "sub").c_str());
  write_file(dir / "sub/inner.txt", "3");
  MKDIR2((dir / "empty").c_str());
  ASSERT_EQ(CD(dir.path().c_str()), 1);

  testing::internal::CaptureStdout();
  EXPECT_EQ(RMDIR(), 1);
  std::string printed = testing::internal::GetCapturedStdout();

  std::vector<std::string> lines;
  std::istringstream in(printed);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{".", "..", "empty", "kept.txt", "one.txt", "sub", "two.bin"}));
  EXPECT_FALSE(exists(dir / "one.txt"));
  EXPECT_FALSE(exists(dir / "two.bin"));
  EXPECT_EQ(read_file(dir / "kept.txt"), "ro");
  std::filesystem::permissions(dir / "kept.txt", std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
  EXPECT_TRUE(exists(dir / "sub/inner.txt"));
  EXPECT_TRUE(testkit::is_directory(dir / "empty"));  // not even an empty folder goes
}

TEST(T2gmt, ReplacesEveryLineFeedAndKeepsTheLength) {
  ScratchDir dir;
  write_file(dir / "in", std::string("a\r\nb\n", 5));
  EXPECT_EQ(T2GMT((dir / "in").c_str(), (dir / "out").c_str()), 1);
  EXPECT_EQ(read_file(dir / "out"), std::string("a\r#b#", 5));

  std::string all;
  for (int i = 0; i < 256 * 40; ++i) all.push_back(static_cast<char>(i));
  write_file(dir / "all", all);
  EXPECT_EQ(T2GMT((dir / "all").c_str(), (dir / "all.out").c_str()), 1);
  std::string expected = all;
  std::replace(expected.begin(), expected.end(), '\n', '#');
  EXPECT_EQ(read_file(dir / "all.out"), expected);
}

TEST(T2gmt, EmptySourceGivesEmptyCopy) {
  ScratchDir dir;
  write_file(dir / "empty", "");
  EXPECT_EQ(T2GMT((dir / "empty").c_str(), (dir / "copy").c_str()), 1);
  EXPECT_TRUE(exists(dir / "copy"));
  EXPECT_EQ(read_file(dir / "copy"), "");
}

TEST(T2gmt, FailuresReturnZeroAndCreateNothing) {
  ScratchDir dir;
  EXPECT_EQ(T2GMT((dir / "missing").c_str(), (dir / "copy").c_str()), 0);
  EXPECT_FALSE(exists(dir / "copy"));
  write_file(dir / "src", "abc");
  EXPECT_EQ(T2GMT((dir / "src").c_str(), (dir / "no/such/folder/copy").c_str()), 0);
  EXPECT_EQ(T2GMT(nullptr, (dir / "copy").c_str()), 0);
  EXPECT_EQ(T2GMT((dir / "src").c_str(), nullptr), 0);
  EXPECT_FALSE(exists(dir / "copy"));
  // A folder is no source: the byte loop must not run on it.
  MKDIR2((dir / "folder").c_str());
  EXPECT_EQ(T2GMT((dir / "folder").c_str(), (dir / "copy").c_str()), 0);
}

TEST(T2gmt, DestinationThatNamesTheSourceIsRefused) {
  ScratchDir dir;
  MKDIR2((dir / "d").c_str());
  write_file(dir / "d/src", "line\nline\n");
  EXPECT_EQ(T2GMT((dir / "d/src").c_str(), (dir / "d/src").c_str()), 0);
  EXPECT_EQ(T2GMT((dir / "d/src").c_str(), (dir / "d/./src").c_str()), 0);
  EXPECT_EQ(T2GMT((dir / "d/src").c_str(), (dir / "d/../d/src").c_str()), 0);
  EXPECT_EQ(read_file(dir / "d/src"), "line\nline\n");
  // Two names of one device are not one file.
#ifdef _WIN32
  EXPECT_EQ(T2GMT("NUL", "NUL"), 1);
#else
  EXPECT_EQ(T2GMT("/dev/null", "/dev/null"), 1);
#endif
}

TEST(MakeBuffer, ReturnsTheFirstLineAsFgetsReadsIt) {
  ScratchDir dir;
  write_file(dir / "lines", "abc\ndef");
  const char* r = makeBuffer((dir / "lines").c_str());
  ASSERT_NE(r, nullptr);
  EXPECT_STREQ(r, "abc\n");

  write_file(dir / "crlf", "x\r\ny\r\n");
  EXPECT_STREQ(makeBuffer((dir / "crlf").c_str()), "x\r\n");

  write_file(dir / "noline", "abc");
  EXPECT_STREQ(makeBuffer((dir / "noline").c_str()), "ab");  // capacity = size: the last byte is lost

  write_file(dir / "one", "a");
  EXPECT_STREQ(makeBuffer((dir / "one").c_str()), "");
  write_file(dir / "empty", "");
  EXPECT_STREQ(makeBuffer((dir / "empty").c_str()), "");

  write_file(dir / "zero", std::string("ab\0cd\n", 6));
  EXPECT_STREQ(makeBuffer((dir / "zero").c_str()), "ab");

  EXPECT_EQ(makeBuffer((dir / "missing").c_str()), nullptr);
  EXPECT_EQ(makeBuffer(nullptr), nullptr);
}

TEST(MakeBuffer, LongFirstLineOfALargeFile) {
  ScratchDir dir;
  std::string big(300000, 'q');
  big += "\nrest";
  write_file(dir / "big", big);
  EXPECT_EQ(std::string(makeBuffer((dir / "big").c_str())), big.substr(0, 300001));
}
