#include <gtest/gtest.h>

#include <cstring>

#include "zip/format/zip_result.h"

using namespace quillon;

TEST(ZipMessages, FormatsAndCutsToTheBuffer) {
  char buf[100];
  lasterrorU = ZIPR_OK;
  EXPECT_EQ(FormatZipMessageU(ZIPR_RECENT, buf, 100), 7u);
  EXPECT_STREQ(buf, "Success");

  EXPECT_EQ(FormatZipMessageU(ZIPR_CORRUPT, buf, 10), 35u);
  EXPECT_STREQ(buf, "Zipfile i");

  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(FormatZipMessageU(ZIPR_WRITEFAILED, buf, 1), 21u);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(buf[1], 'x');
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(FormatZipMessageU(ZIPR_WRITEFAILED, buf, 0), 21u);
  EXPECT_EQ(FormatZipMessageU(ZIPR_WRITEFAILED, nullptr, 100), 21u);
  EXPECT_EQ(buf[0], 'x');
}

TEST(ZipMessages, TheTwoSidesDifferOnlyInThePasswordCode) {
  char buf[100];
  EXPECT_EQ(FormatZipMessageZ(ZIPR_PASSWORD, buf, 100), 23u);
  EXPECT_STREQ(buf, "unknown zip result code");
  EXPECT_EQ(FormatZipMessageU(ZIPR_PASSWORD, buf, 100), 25u);
  EXPECT_STREQ(buf, "Correct password required");
  const ZIPRESULT others[] = {ZIPR_OK, ZIPR_NODUPHANDLE, ZIPR_OPENFAILED, ZIPR_NOMEMORY, ZIPR_WRITEFAILED,
                              ZIPR_NOTFOUND, ZIPR_MOREDATA, ZIPR_CORRUPT, ZIPR_READFAILED, ZIPR_BADARGS,
                              ZIPR_NOTMEMORYZIP, ZIPR_MEMORYFULL, ZIPR_PREVIOUSERROR, ZIPR_ENDED,
                              ZIPR_WRONGSIZE, ZIPR_PARTIALUNZIP, ZIPR_MIXEDMODE, ZIPR_NOTINITIALISED,
                              ZIPR_UNSEEKABLE, ZIPR_NOCHANGE, ZIPR_FLATEERROR};
  for (ZIPRESULT code : others) {
    char u[100], z[100];
    FormatZipMessageU(code, u, 100);
    FormatZipMessageZ(code, z, 100);
    EXPECT_STREQ(u, z) << std::hex << code;
    EXPECT_STRNE(u, "unknown zip result code") << std::hex << code;
  }
}

TEST(ZipMessages, CallerAndBugGroupsAndUnknownCodes) {
  char buf[100];
  FormatZipMessageU(ZIPR_MIXEDMODE, buf, 100);
  EXPECT_STREQ(buf, "Caller: mixing creation and opening of zip");
  FormatZipMessageU(ZIPR_WRONGSIZE, buf, 100);
  EXPECT_STREQ(buf, "Zip-bug: the anticipated size turned out wrong");
  FormatZipMessageU(ZIPR_NODUPHANDLE, buf, 100);
  EXPECT_STREQ(buf, "Culdn't duplicate handle");
  EXPECT_EQ(FormatZipMessageU(0x00010100, buf, 100), 23u);
  EXPECT_STREQ(buf, "unknown zip result code");
  lasterrorZ = ZIPR_ENDED;
  FormatZipMessageZ(ZIPR_RECENT, buf, 100);
  EXPECT_STREQ(buf, "Caller: additions to the zip have already been ended");
  lasterrorZ = ZIPR_OK;
}

TEST(ZipHandles, KindDecidesTheSide) {
  ZipHandleRecord reading{kReadingHandle, nullptr}, writing{kWritingHandle, nullptr};
  EXPECT_TRUE(IsZipHandleU(&reading));
  EXPECT_FALSE(IsZipHandleZ(&reading));
  EXPECT_TRUE(IsZipHandleZ(&writing));
  EXPECT_FALSE(IsZipHandleU(&writing));
  EXPECT_FALSE(IsZipHandleU(nullptr));
  EXPECT_FALSE(IsZipHandleZ(nullptr));
}
