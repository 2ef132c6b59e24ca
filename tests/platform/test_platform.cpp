// The platform layer must answer the same on every system: these are the
// behaviours the archive and file code rely on.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/dir.h"
#include "platform/file.h"
#include "platform/fileinfo.h"
#include "platform/memory.h"
#include "platform/pathname.h"
#include "platform/time.h"
#include "support/testkit.h"

using testkit::ScratchDir;

TEST(PlatformFile, ExclusiveOutputRefusesEveryOtherOpen) {
  ScratchDir dir;
  const std::string path = dir / "out.bin";
  qp::Handle w = qp::create_exclusive(path.c_str(), qp::kAttrNormal);
  ASSERT_TRUE(qp::is_valid(w));
  EXPECT_EQ(qp::open_read_shared(path.c_str()), qp::kInvalidHandle);
  EXPECT_EQ(qp::create_exclusive(path.c_str(), qp::kAttrNormal), qp::kInvalidHandle);
  uint32_t n = 0;
  EXPECT_TRUE(qp::write_file(w, "abc", 3, &n));
  EXPECT_EQ(n, 3u);
  EXPECT_TRUE(qp::close_handle(w));

  qp::Handle r1 = qp::open_read_shared(path.c_str());
  qp::Handle r2 = qp::open_read_shared(path.c_str());
  ASSERT_TRUE(qp::is_valid(r1));
  ASSERT_TRUE(qp::is_valid(r2));
  // A file being read cannot be recreated under the readers.
  EXPECT_EQ(qp::create_exclusive(path.c_str(), qp::kAttrNormal), qp::kInvalidHandle);
  EXPECT_EQ(qp::file_size(r1), 3u);
  qp::close_handle(r1);
  qp::close_handle(r2);
  qp::Handle again = qp::create_exclusive(path.c_str(), qp::kAttrNormal);
  EXPECT_TRUE(qp::is_valid(again));
  qp::close_handle(again);
  EXPECT_EQ(testkit::read_file(path), "");
}

TEST(PlatformFile, DirectoriesAndMissingFilesDoNotOpen) {
  ScratchDir dir;
  EXPECT_EQ(qp::open_read_shared((dir / "missing").c_str()), qp::kInvalidHandle);
  EXPECT_EQ(qp::open_read_shared(dir.path().c_str()), qp::kInvalidHandle);
  qp::make_directory((dir / "sub").c_str());
  EXPECT_EQ(qp::open_read_shared((dir / "sub").c_str()), qp::kInvalidHandle);
  EXPECT_EQ(qp::create_exclusive((dir / "sub").c_str(), 0), qp::kInvalidHandle);
  EXPECT_EQ(qp::open_read_shared(nullptr), qp::kInvalidHandle);
  EXPECT_FALSE(qp::delete_file((dir / "sub").c_str()));
  EXPECT_TRUE(testkit::is_directory(dir / "sub"));
}

TEST(PlatformFile, PositionsAndReads) {
  ScratchDir dir;
  testkit::write_file(dir / "f", "0123456789");
  qp::Handle h = qp::open_read_shared((dir / "f").c_str());
  ASSERT_TRUE(qp::is_valid(h));
  EXPECT_EQ(qp::set_file_pointer(h, 0, qp::SeekFrom::Current), 0u);
  EXPECT_EQ(qp::set_file_pointer(h, 4, qp::SeekFrom::Begin), 4u);
  char buf[16] = {};
  uint32_t got = 0;
  EXPECT_TRUE(qp::read_file(h, buf, 16, &got));
  EXPECT_EQ(got, 6u);
  EXPECT_EQ(std::string(buf, got), "456789");
  EXPECT_TRUE(qp::read_file(h, buf, 16, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(qp::set_file_pointer(h, -3, qp::SeekFrom::End), 7u);
  EXPECT_EQ(qp::set_file_pointer(h, -1, qp::SeekFrom::Current), 6u);
  qp::close_handle(h);
}

TEST(PlatformFile, PipesHaveNoPosition) {
  qp::Handle r, w;
  ASSERT_TRUE(qp::create_pipe(&r, &w));
  EXPECT_EQ(qp::set_file_pointer(r, 0, qp::SeekFrom::Current), qp::kNoPosition);
  EXPECT_EQ(qp::set_file_pointer(w, 0, qp::SeekFrom::Current), qp::kNoPosition);
  uint32_t n = 0;
  EXPECT_TRUE(qp::write_file(w, "pipe", 4, &n));
  qp::close_handle(w);
  char buf[8];
  EXPECT_TRUE(qp::read_file(r, buf, sizeof buf, &n));
  EXPECT_EQ(std::string(buf, n), "pipe");
  EXPECT_TRUE(qp::read_file(r, buf, sizeof buf, &n));
  EXPECT_EQ(n, 0u);
  qp::close_handle(r);
}

TEST(PlatformFile, WritingToAPipeWithoutReaderFailsQuietly) {
  qp::Handle r, w;
  ASSERT_TRUE(qp::create_pipe(&r, &w));
  qp::close_handle(r);
  uint32_t n = 99;
  EXPECT_FALSE(qp::write_file(w, "lost", 4, &n));  // no signal ends the process
  EXPECT_EQ(n, 0u);
  qp::close_handle(w);
}

TEST(PlatformFileInfo, AttributesSizeAndTimes) {
  ScratchDir dir;
  const std::string path = dir / "f.txt";
  qp::Handle h = qp::create_exclusive(path.c_str(), qp::kAttrNormal);
  ASSERT_TRUE(qp::is_valid(h));
  uint32_t n;
  qp::write_file(h, "hello", 5, &n);
  // 2001-02-03 04:05:06 UTC, and an access time a day later.
  qp::SystemTime st;
  st.year = 2001, st.month = 2, st.day = 3, st.hour = 4, st.minute = 5, st.second = 6;
  uint64_t write_time = 0;
  ASSERT_TRUE(qp::system_time_to_file_time(st, &write_time));
  const uint64_t access_time = write_time + 86400ULL * 10000000ULL;
  EXPECT_TRUE(qp::set_file_times(h, &write_time, &access_time, &write_time));
  qp::close_handle(h);

  h = qp::open_read_shared(path.c_str());
  qp::FileInfo info;
  ASSERT_TRUE(qp::get_file_info(h, &info));
  qp::close_handle(h);
  EXPECT_EQ(info.size, 5u);
  EXPECT_EQ(info.write_time, write_time);
  EXPECT_EQ(info.access_time, access_time);
  EXPECT_FALSE(info.attributes & qp::kAttrReadOnly);
  EXPECT_FALSE(info.attributes & qp::kAttrDirectory);

  uint32_t a = qp::get_file_attributes(path.c_str());
  EXPECT_NE(a, qp::kNoPosition);
  EXPECT_TRUE(qp::get_file_attributes(dir.path().c_str()) & qp::kAttrDirectory);
  EXPECT_EQ(qp::get_file_attributes((dir / "missing").c_str()), qp::kNoPosition);
}

TEST(PlatformFileInfo, SameFileComparesIdentityNotSpelling) {
  ScratchDir dir;
  qp::make_directory((dir / "d").c_str());
  testkit::write_file(dir / "d/a", "1");
  testkit::write_file(dir / "d/b", "1");
  EXPECT_TRUE(qp::same_file((dir / "d/a").c_str(), (dir / "d/../d/./a").c_str()));
  EXPECT_FALSE(qp::same_file((dir / "d/a").c_str(), (dir / "d/b").c_str()));
  EXPECT_FALSE(qp::same_file((dir / "d/a").c_str(), (dir / "d/missing").c_str()));
}

TEST(PlatformTime, CalendarConversionsMatchTheWindowsEpoch) {
  qp::SystemTime epoch;
  epoch.year = 1970, epoch.month = 1, epoch.day = 1;
  uint64_t ft = 0;
  ASSERT_TRUE(qp::system_time_to_file_time(epoch, &ft));
  EXPECT_EQ(ft, 116444736000000000ULL);

  qp::SystemTime leap;
  leap.year = 2024, leap.month = 2, leap.day = 29, leap.hour = 23, leap.minute = 59, leap.second = 58,
  leap.milliseconds = 7;
  ASSERT_TRUE(qp::system_time_to_file_time(leap, &ft));
  qp::SystemTime back;
  ASSERT_TRUE(qp::file_time_to_system_time(ft, &back));
  EXPECT_EQ(back.year, 2024);
  EXPECT_EQ(back.month, 2);
  EXPECT_EQ(back.day, 29);
  EXPECT_EQ(back.hour, 23);
  EXPECT_EQ(back.minute, 59);
  EXPECT_EQ(back.second, 58);
  EXPECT_EQ(back.milliseconds, 7);
  EXPECT_EQ(back.day_of_week, 4);  // a Thursday

  qp::SystemTime bad;
  bad.year = 1980, bad.month = 0, bad.day = 1;
  EXPECT_FALSE(qp::system_time_to_file_time(bad, &ft));
  bad.month = 13;
  EXPECT_FALSE(qp::system_time_to_file_time(bad, &ft));
  bad.month = 2, bad.hour = 24;
  EXPECT_FALSE(qp::system_time_to_file_time(bad, &ft));
}

// Feb 29 exists in 2000, 2096, 2104 and 2400, not in 1700, 1900 or 2100;
// the days around it convert both ways. Ticks (12:34:56 that day, since
// 1601-01-01) and weekdays (0 Sunday) from Python's datetime.
TEST(PlatformTime, LeapDaysAroundCenturyYears) {
  struct Case {
    uint16_t year, month, day;
    uint64_t ticks;  // 0: no such day
    uint16_t weekday;
  };
  const Case cases[] = {
      {1700, 2, 28, 31291940960000000ULL, 0},     {1700, 2, 29, 0, 0},  {1700, 3, 1, 31292804960000000ULL, 1},
      {1900, 2, 28, 94405412960000000ULL, 3},     {1900, 2, 29, 0, 0},  {1900, 3, 1, 94406276960000000ULL, 4},
      {2000, 2, 28, 125962148960000000ULL, 1},    {2000, 2, 29, 125963012960000000ULL, 2},
      {2000, 3, 1, 125963876960000000ULL, 3},     {2096, 2, 28, 156257444960000000ULL, 2},
      {2096, 2, 29, 156258308960000000ULL, 3},    {2096, 3, 1, 156259172960000000ULL, 4},
      {2100, 2, 28, 157519748960000000ULL, 0},    {2100, 2, 29, 0, 0},  {2100, 3, 1, 157520612960000000ULL, 1},
      {2104, 2, 28, 158781188960000000ULL, 4},    {2104, 2, 29, 158782052960000000ULL, 5},
      {2104, 3, 1, 158782916960000000ULL, 6},     {2400, 2, 29, 252190820960000000ULL, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.year) + "-" + std::to_string(c.month) + "-" + std::to_string(c.day));
    qp::SystemTime st;
    st.year = c.year, st.month = c.month, st.day = c.day, st.hour = 12, st.minute = 34, st.second = 56;
    uint64_t ft = 0;
    ASSERT_EQ(qp::system_time_to_file_time(st, &ft), c.ticks != 0);
    if (c.ticks == 0) continue;
    EXPECT_EQ(ft, c.ticks);
    qp::SystemTime back;
    ASSERT_TRUE(qp::file_time_to_system_time(c.ticks, &back));
    EXPECT_EQ(back.year, c.year);
    EXPECT_EQ(back.month, c.month);
    EXPECT_EQ(back.day, c.day);
    EXPECT_EQ(back.hour * 3600 + back.minute * 60 + back.second, 12 * 3600 + 34 * 60 + 56);
    EXPECT_EQ(back.day_of_week, c.weekday);
  }
}

TEST(PlatformTime, LocalTimeRoundTripsThroughUtc) {
  qp::SystemTime now;
  qp::get_local_time(&now);
  EXPECT_GE(now.year, 2020);
  uint64_t local = 0, utc = 0;
  ASSERT_TRUE(qp::system_time_to_file_time(now, &local));
  ASSERT_TRUE(qp::local_file_time_to_file_time(local, &utc));
  // Every time zone lies within 14 hours of UTC.
  const int64_t diff = int64_t(local) - int64_t(utc);
  EXPECT_LE(std::llabs(diff), 14LL * 3600 * 10000000);
}

TEST(PlatformMemory, MappedBlocksAreZeroedAndWritable) {
  qp::MappedBlock block;
  ASSERT_TRUE(qp::map_zeroed(100000, &block));
  auto* bytes = static_cast<unsigned char*>(block.view);
  for (uint32_t i = 0; i < 100000; i += 997) EXPECT_EQ(bytes[i], 0);
  bytes[99999] = 7;
  qp::unmap_zeroed(&block);
  EXPECT_EQ(block.view, nullptr);
}

TEST(PlatformPathname, StepsTheSystemMayTakeForOneFile) {
#ifdef _WIN32
  const bool windows = true;
#else
  const bool windows = false;
#endif
  // On Windows the first five pairs are possibly one file ('?' stands for a
  // letter the code page lacks, which may fold to i, s or k, or to a letter
  // beyond ASCII); on POSIX systems only equal bytes are.
  const char* const one_file[][2] = {{"a.txt", "A.TXT. "}, {"a.txt", "a.txt::$DATA"}, {"?.txt", "i.txt"},
                                     {"?.txt", "S.txt"},   {"\xB5.txt", "?.txt"}};
  for (const auto& p : one_file)
    EXPECT_EQ(qp::step_identity(p[0], std::strlen(p[0])) == qp::step_identity(p[1], std::strlen(p[1])), windows)
        << p[0] << " " << p[1];
  const char* const two_files[][2] = {{"a.txt", "b.txt"}, {"a.txt", "a.txt.gz"}, {"ab", "a b"}};
  for (const auto& p : two_files)
    EXPECT_NE(qp::step_identity(p[0], std::strlen(p[0])), qp::step_identity(p[1], std::strlen(p[1])))
        << p[0] << " " << p[1];
  EXPECT_EQ(qp::step_may_be_alias("PROGRA~1", 8), windows);
  EXPECT_FALSE(qp::step_may_be_alias("a~b.txt", 7));
  EXPECT_FALSE(qp::step_may_be_alias("end~", 4));
}
