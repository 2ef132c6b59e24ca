// The record types: every field survives encode and decode (no two fields
// share bytes), short or foreign input is refused, and the Zip64 block is
// read field by field within its length.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "zip/format/dos_time.h"
#include "zip/format/records.h"

using namespace quillon;

namespace {

template <typename Record>
void expect_refuses_short_and_foreign(const Record& r) {
  std::vector<unsigned char> bytes(Record::kSize);
  r.encode(bytes.data());
  Record back;
  EXPECT_FALSE(back.decode(bytes.data(), Record::kSize - 1));
  EXPECT_FALSE(back.decode(nullptr, 0));
  bytes[3] ^= 1;
  EXPECT_FALSE(back.decode(bytes.data(), Record::kSize));
}

}  // namespace

TEST(ZipRecords, EveryFieldRoundTripsAndShortInputIsRefused) {
  LocalHeader l;
  l.version_needed = 0x0102, l.flags = 0x0304, l.method = 0x0506, l.dos_datetime = 0x0708090A;
  l.crc = 0x0B0C0D0E, l.compressed_size = 0x0F101112, l.uncompressed_size = 0x13141516;
  l.name_length = 0x1718, l.extra_length = 0x191A;
  unsigned char lb[LocalHeader::kSize];
  l.encode(lb);
  EXPECT_EQ(get32(lb), kLocalHeaderSignature);
  LocalHeader l2;
  ASSERT_TRUE(l2.decode(lb, sizeof lb));
  EXPECT_EQ(l2.version_needed, l.version_needed);
  EXPECT_EQ(l2.flags, l.flags);
  EXPECT_EQ(l2.method, l.method);
  EXPECT_EQ(l2.dos_datetime, l.dos_datetime);
  EXPECT_EQ(l2.crc, l.crc);
  EXPECT_EQ(l2.compressed_size, l.compressed_size);
  EXPECT_EQ(l2.uncompressed_size, l.uncompressed_size);
  EXPECT_EQ(l2.name_length, l.name_length);
  EXPECT_EQ(l2.extra_length, l.extra_length);
  expect_refuses_short_and_foreign(l);

  CentralRecord c;
  c.version_made_by = 0x0102, c.version_needed = 0x0304, c.flags = 0x0506, c.method = 0x0708;
  c.dos_datetime = 0x090A0B0C, c.crc = 0x0D0E0F10, c.compressed_size = 0x11121314;
  c.uncompressed_size = 0x15161718, c.name_length = 0x191A, c.extra_length = 0x1B1C;
  c.comment_length = 0x1D1E, c.disk_start = 0x1F20, c.internal_attributes = 0x2122;
  c.external_attributes = 0x23242526, c.local_header_offset = 0x2728292A;
  unsigned char cb[CentralRecord::kSize];
  c.encode(cb);
  CentralRecord c2;
  ASSERT_TRUE(c2.decode(cb, sizeof cb));
  EXPECT_EQ(c2.version_made_by, c.version_made_by);
  EXPECT_EQ(c2.version_needed, c.version_needed);
  EXPECT_EQ(c2.flags, c.flags);
  EXPECT_EQ(c2.method, c.method);
  EXPECT_EQ(c2.dos_datetime, c.dos_datetime);
  EXPECT_EQ(c2.crc, c.crc);
  EXPECT_EQ(c2.compressed_size, c.compressed_size);
  EXPECT_EQ(c2.uncompressed_size, c.uncompressed_size);
  EXPECT_EQ(c2.name_length, c.name_length);
  EXPECT_EQ(c2.extra_length, c.extra_length);
  EXPECT_EQ(c2.comment_length, c.comment_length);
  EXPECT_EQ(c2.disk_start, c.disk_start);
  EXPECT_EQ(c2.internal_attributes, c.internal_attributes);
  EXPECT_EQ(c2.external_attributes, c.external_attributes);
  EXPECT_EQ(c2.local_header_offset, c.local_header_offset);
  EXPECT_EQ(c2.total_size(), 46u + 0x191A + 0x1B1C + 0x1D1E);
  expect_refuses_short_and_foreign(c);

  EndRecord e;
  e.disk = 0x0102, e.directory_disk = 0x0304, e.entries_on_disk = 0x0506, e.entries = 0x0708;
  e.directory_size = 0x090A0B0C, e.directory_offset = 0x0D0E0F10, e.comment_length = 0x1112;
  unsigned char eb[EndRecord::kSize];
  e.encode(eb);
  EndRecord e2;
  ASSERT_TRUE(e2.decode(eb, sizeof eb));
  EXPECT_EQ(e2.disk, e.disk);
  EXPECT_EQ(e2.directory_disk, e.directory_disk);
  EXPECT_EQ(e2.entries_on_disk, e.entries_on_disk);
  EXPECT_EQ(e2.entries, e.entries);
  EXPECT_EQ(e2.directory_size, e.directory_size);
  EXPECT_EQ(e2.directory_offset, e.directory_offset);
  EXPECT_EQ(e2.comment_length, e.comment_length);
  expect_refuses_short_and_foreign(e);

  Zip64EndRecord z;
  z.record_size = 0x0102030405060708, z.version_made_by = 0x090A, z.version_needed = 0x0B0C;
  z.disk = 0x0D0E0F10, z.directory_disk = 0x11121314, z.entries_on_disk = 0x15161718191A1B1C;
  z.entries = 0x1D1E1F2021222324, z.directory_size = 0x25262728292A2B2C;
  z.directory_offset = 0x2D2E2F3031323334;
  unsigned char zb[Zip64EndRecord::kSize];
  z.encode(zb);
  Zip64EndRecord z2;
  ASSERT_TRUE(z2.decode(zb, sizeof zb));
  EXPECT_EQ(z2.record_size, z.record_size);
  EXPECT_EQ(z2.version_made_by, z.version_made_by);
  EXPECT_EQ(z2.version_needed, z.version_needed);
  EXPECT_EQ(z2.disk, z.disk);
  EXPECT_EQ(z2.directory_disk, z.directory_disk);
  EXPECT_EQ(z2.entries_on_disk, z.entries_on_disk);
  EXPECT_EQ(z2.entries, z.entries);
  EXPECT_EQ(z2.directory_size, z.directory_size);
  EXPECT_EQ(z2.directory_offset, z.directory_offset);
  EXPECT_EQ(Zip64EndRecord().record_size, 44u);
  expect_refuses_short_and_foreign(z);

  Zip64EndLocator k;
  k.end_record_disk = 0x01020304, k.end_record_offset = 0x05060708090A0B0C, k.disks = 0x0D0E0F10;
  unsigned char kb[Zip64EndLocator::kSize];
  k.encode(kb);
  Zip64EndLocator k2;
  ASSERT_TRUE(k2.decode(kb, sizeof kb));
  EXPECT_EQ(k2.end_record_disk, k.end_record_disk);
  EXPECT_EQ(k2.end_record_offset, k.end_record_offset);
  EXPECT_EQ(k2.disks, k.disks);
  expect_refuses_short_and_foreign(k);
}

TEST(ZipRecords, DataDescriptorHasTwoForms) {
  DataDescriptor d;
  d.crc = 0x01020304, d.compressed_size = 0x0506070809, d.uncompressed_size = 0x0A0B0C0D0E;
  unsigned char b[kZip64DataDescriptorSize];
  EXPECT_EQ(d.encode(b), 16u);
  EXPECT_EQ(get32(b + 8), 0x06070809u);  // the classic form keeps the low 32 bits
  DataDescriptor back;
  ASSERT_TRUE(back.decode(b, 16));
  EXPECT_EQ(back.crc, 0x01020304u);
  EXPECT_EQ(back.compressed_size, 0x06070809u);
  EXPECT_EQ(back.uncompressed_size, 0x0B0C0D0Eu);

  d.zip64 = true;
  EXPECT_EQ(d.encode(b), 24u);
  back.zip64 = true;
  EXPECT_FALSE(back.decode(b, 23));
  ASSERT_TRUE(back.decode(b, 24));
  EXPECT_EQ(back.compressed_size, 0x0506070809u);
  EXPECT_EQ(back.uncompressed_size, 0x0A0B0C0D0Eu);
}

TEST(ZipRecords, Zip64BlockTakesFlaggedFieldsInOrderWithinItsLength) {
  Zip64Extra w;
  w.has_uncompressed_size = w.has_local_header_offset = w.has_disk_start = true;
  w.uncompressed_size = 0x1111111111, w.compressed_size = 0x2222222222, w.local_header_offset = 0x3333333333;
  w.disk_start = 7;
  unsigned char b[Zip64Extra::kMaxSize];
  ASSERT_EQ(w.encode(b), 4u + 8 + 8 + 4);
  EXPECT_EQ(get16(b), kZip64ExtraId);
  EXPECT_EQ(get16(b + 2), 20u);
  EXPECT_EQ(get64(b + 4), 0x1111111111u);  // the offset follows directly: the compressed size is absent
  EXPECT_EQ(get64(b + 12), 0x3333333333u);

  // Every length from nothing to the whole block: the fields that fit are
  // taken, the first that does not and all after it are not.
  for (uint32_t length = 0; length <= 20; ++length) {
    Zip64Extra r;
    r.has_uncompressed_size = r.has_local_header_offset = r.has_disk_start = true;
    r.local_header_offset = 99;
    const bool whole = r.decode(b + 4, length);
    EXPECT_EQ(whole, length >= 20) << length;
    EXPECT_EQ(r.has_uncompressed_size, length >= 8) << length;
    EXPECT_EQ(r.has_local_header_offset, length >= 16) << length;
    EXPECT_EQ(r.has_disk_start, length >= 20) << length;
    EXPECT_FALSE(r.has_compressed_size);
    if (length >= 8) {
      EXPECT_EQ(r.uncompressed_size, 0x1111111111u);
    }
    EXPECT_EQ(r.local_header_offset, length >= 16 ? 0x3333333333u : 99u) << length;
  }

  // The block does not say which fields it holds: read for the compressed
  // size alone, its first value is taken as that.
  Zip64Extra only;
  only.has_compressed_size = true;
  EXPECT_TRUE(only.decode(b + 4, 20));
  EXPECT_EQ(only.compressed_size, 0x1111111111u);
}

TEST(ZipRecords, TimestampBlockTakesTheTimesItsFlagsNameWithinTheData) {
  ExtendedTimestamp local;
  local.flags = local.held = ExtendedTimestamp::kModification | ExtendedTimestamp::kAccess | ExtendedTimestamp::kCreation;
  local.modification_time = 111, local.access_time = 222, local.creation_time = 333;
  unsigned char b[ExtendedTimestamp::kMaxSize];
  ASSERT_EQ(local.encode(b), 17u);
  EXPECT_EQ(b[0], 'U');
  EXPECT_EQ(b[1], 'T');
  EXPECT_EQ(get16(b + 2), 13u);
  EXPECT_EQ(b[4], 7);
  EXPECT_EQ(get32(b + 13), 333u);

  // A central block: the same flags over the modification time alone.
  ExtendedTimestamp central = local;
  central.held = ExtendedTimestamp::kModification;
  ASSERT_EQ(central.encode(b), 9u);
  EXPECT_EQ(get16(b + 2), 5u);
  EXPECT_EQ(b[4], 7);
  ExtendedTimestamp back;
  ASSERT_TRUE(back.decode(b + 4, 5));
  EXPECT_EQ(back.flags, 7);
  EXPECT_EQ(back.held, ExtendedTimestamp::kModification);
  EXPECT_EQ(back.modification_time, 111u);
  EXPECT_FALSE(back.decode(b + 4, 0));
  EXPECT_EQ(back.held, 0);

  // Only the access time named: it comes first in the data.
  const unsigned char access_only[] = {ExtendedTimestamp::kAccess, 0x10, 0, 0, 0};
  ASSERT_TRUE(back.decode(access_only, sizeof access_only));
  EXPECT_EQ(back.held, ExtendedTimestamp::kAccess);
  EXPECT_EQ(back.access_time, 0x10u);
}

// The NTFS block's times come from attribute 1 wherever it stands among the
// attributes, only while every attribute before it lies within the data;
// the 0x5855 block's from its first 8 bytes, the ids when they are there.
TEST(ZipRecords, NtfsAndUnixBlocksTakeTimesOnlyWithinTheirData) {
  NtfsExtra ntfs;
  ntfs.modification_time = 0x0102030405060708u, ntfs.access_time = 0x1112131415161718u;
  ntfs.creation_time = 0x2122232425262728u;
  unsigned char b[64] = {};
  ASSERT_EQ(ntfs.encode(b), NtfsExtra::kSize);
  EXPECT_EQ(get16(b), 0x000Au);
  EXPECT_EQ(get16(b + 2), 32u);
  EXPECT_EQ(get16(b + 8), 1u);
  EXPECT_EQ(get16(b + 10), 24u);
  EXPECT_EQ(get64(b + 12), ntfs.modification_time);
  EXPECT_EQ(get64(b + 28), ntfs.creation_time);
  // Another attribute (tag 2, 4 bytes) in front of attribute 1.
  unsigned char other_first[40] = {};
  put16(other_first + 4, 2), put16(other_first + 6, 4);
  std::copy(b + 8, b + 36, other_first + 12);
  struct Case {
    const char* what;
    const unsigned char* data;
    uint32_t length;
    bool taken;
  };
  const Case ntfs_cases[] = {
      {"whole", b + 4, 32, true},
      {"longer data", b + 4, 40, true},
      {"another attribute first", other_first, 40, true},
      {"reserved bytes only", b + 4, 4, false},
      {"attribute cut", b + 4, 31, false},
      {"attribute head only", b + 4, 8, false},
      {"other attribute cut", other_first, 11, false},
      {"none", nullptr, 0, false},
  };
  for (const Case& c : ntfs_cases) {
    NtfsExtra back;
    EXPECT_EQ(back.decode(c.data, c.length), c.taken) << c.what;
    EXPECT_EQ(back.modification_time, c.taken ? ntfs.modification_time : 0u) << c.what;
    EXPECT_EQ(back.access_time, c.taken ? ntfs.access_time : 0u) << c.what;
    EXPECT_EQ(back.creation_time, c.taken ? ntfs.creation_time : 0u) << c.what;
  }
  // Attribute 1 too small for three times: the block holds none.
  put16(b + 10, 16);
  NtfsExtra small;
  EXPECT_FALSE(small.decode(b + 4, 32));

  InfoZipUnixExtra ux;
  ux.access_time = 1600000100, ux.modification_time = 1600000000, ux.has_ids = true, ux.uid = 501, ux.gid = 20;
  ASSERT_EQ(ux.encode(b), 16u);
  EXPECT_EQ(get16(b), 0x5855u);
  EXPECT_EQ(get16(b + 2), 12u);
  EXPECT_EQ(get32(b + 4), 1600000100u);
  const struct {
    uint32_t length;
    bool taken, ids;
  } unix_cases[] = {{12, true, true}, {11, true, false}, {8, true, false}, {7, false, false}, {0, false, false}};
  for (const auto& c : unix_cases) {
    InfoZipUnixExtra back;
    EXPECT_EQ(back.decode(b + 4, c.length), c.taken) << c.length;
    EXPECT_EQ(back.modification_time, c.taken ? 1600000000u : 0u) << c.length;
    EXPECT_EQ(back.access_time, c.taken ? 1600000100u : 0u) << c.length;
    EXPECT_EQ(back.has_ids, c.ids) << c.length;
    EXPECT_EQ(back.uid, c.ids ? 501u : 0u) << c.length;
  }
  ux.has_ids = false;
  EXPECT_EQ(ux.encode(b), 12u);
  EXPECT_EQ(get16(b + 2), 8u);
}

TEST(ZipRecords, DosStampHoldsTimeLowAndDateHigh) {
  DosDateTime t;
  t.year = 2024, t.month = 2, t.day = 29, t.hour = 13, t.minute = 45, t.second = 59;  // kept as 58
  EXPECT_EQ(t.stamp(), 0x585D6DBDu);
  const DosDateTime back = DosDateTime::from_stamp(0x585D6DBDu);
  EXPECT_EQ(back.year, 2024u);
  EXPECT_EQ(back.month, 2u);
  EXPECT_EQ(back.day, 29u);
  EXPECT_EQ(back.hour, 13u);
  EXPECT_EQ(back.minute, 45u);
  EXPECT_EQ(back.second, 58u);
  EXPECT_EQ(DosDateTime::from_stamp(0xFFFFFFFFu).year, 2107u);

  // To a file time: the stamp's fields as they stand; a stamp that names no
  // moment gives the first one a DOS date can name.
  auto file_time = [](uint16_t y, uint16_t mo, uint16_t d, uint16_t h, uint16_t mi, uint16_t s) {
    qp::SystemTime st;
    st.year = y, st.month = mo, st.day = d, st.hour = h, st.minute = mi, st.second = s;
    uint64_t ft = 0;
    EXPECT_TRUE(qp::system_time_to_file_time(st, &ft));
    return ft;
  };
  const uint64_t first = file_time(1980, 1, 1, 0, 0, 0);
  const struct {
    uint32_t stamp;
    uint64_t want;
  } cases[] = {
      {0x585D6DBDu, file_time(2024, 2, 29, 13, 45, 58)},
      {0x00210000u, first},
      {0xFF9FBF7Du, file_time(2107, 12, 31, 23, 59, 58)},
      {0x581D6DBDu, first},                  // month 0
      {0x589F0000u, first},                  // 31 April
      {0x585DC800u, first},                  // hour 25
      {(43u << 9 | 2u << 5 | 29u) << 16, first},  // 29 February 2023
  };
  for (const auto& c : cases) EXPECT_EQ(file_time_of_dos_stamp(c.stamp), c.want) << std::hex << c.stamp;
  EXPECT_EQ(file_time_of_unix_time(0), kUnixEpochTicks);
  EXPECT_EQ(file_time_of_unix_time(1), kUnixEpochTicks + kTicksPerSecond);
  EXPECT_EQ(unix_time_of_file_time(file_time_of_unix_time(0xFFFFFFFFu)), -1);  // kept in 32 bits

  // Every month in its four bits, both ways, at both ends of the years;
  // stamps of the last day of each month at 23:59:58.
  const uint32_t last_day[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  for (const uint32_t year : {1980u, 2000u, 2100u, 2107u}) {
    for (uint32_t month = 1; month <= 12; ++month) {
      DosDateTime d;
      d.year = year, d.month = month, d.day = last_day[month - 1], d.hour = 23, d.minute = 59, d.second = 58;
      const uint32_t want = ((year - 1980) << 9 | month << 5 | last_day[month - 1]) << 16 | 0xBF7Du;
      EXPECT_EQ(d.stamp(), want) << year << "-" << month;
      const DosDateTime e = DosDateTime::from_stamp(want);
      EXPECT_EQ(e.year, year);
      EXPECT_EQ(e.month, month) << year << "-" << month;
      EXPECT_EQ(e.day, last_day[month - 1]);
      EXPECT_EQ(e.hour * 3600 + e.minute * 60 + e.second, 86398u);
    }
  }
}
