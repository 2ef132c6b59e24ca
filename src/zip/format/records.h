// The records of the ZIP format as the library reads and writes them: their
// signatures, fixed sizes and flag bits, little-endian field access, and one
// type per record whose fixed part encodes into and decodes from a byte
// array. The reader and the writer both go through these types, so each
// field's offset is written down once, here (records.cpp).
//
// Local header (30 bytes + name + extra), data descriptor (16, or 24 with
// Zip64 sizes), central header (46 + name + extra + comment), end record
// (22 + comment), Zip64 end record (56 + extensible data), Zip64 end locator
// (20). The variable parts (name, extra field, comment) stay with the caller;
// the types carry their lengths.
#pragma once
#include <cstddef>
#include <cstdint>

namespace quillon {

constexpr uint32_t kLocalHeaderSignature = 0x04034B50;    // "PK\3\4"
constexpr uint32_t kCentralHeaderSignature = 0x02014B50;  // "PK\1\2"
constexpr uint32_t kEndRecordSignature = 0x06054B50;      // "PK\5\6"
constexpr uint32_t kDataDescriptorSignature = 0x08074B50; // "PK\7\8"

constexpr uint32_t kLocalHeaderSize = 30;
constexpr uint32_t kCentralHeaderSize = 46;
constexpr uint32_t kEndRecordSize = 22;
constexpr uint32_t kDataDescriptorSize = 16;
constexpr uint32_t kEncryptionHeaderSize = 12;

// General-purpose flag bits.
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagLevelMax = 0x0002;   // deflated at the highest levels
constexpr uint16_t kFlagLevelFast = 0x0004;  // deflated at the fastest levels
constexpr uint16_t kFlagDataDescriptor = 0x0008;
constexpr uint16_t kFlagUtf8Name = 0x0800;  // name and comment are UTF-8 (APPNOTE 4.4.4, bit 11)

// The encryption header (APPNOTE 6.1): kEncryptionHeaderSize enciphered
// bytes in front of an encrypted entry's data. Its last byte, deciphered, is
// the check byte: the high byte of the DOS time when the sizes follow in a
// data descriptor (flag bit 3; the CRC is not known when the header is
// written), otherwise the high byte of the CRC-32.
inline unsigned char encryption_check_byte(uint32_t flags, uint32_t dos_datetime, uint32_t crc) {
  return static_cast<unsigned char>((flags & kFlagDataDescriptor) ? dos_datetime >> 8 : crc >> 24);
}

// Compression methods.
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

// The extended-timestamp extra block "UT": a flag byte (bit 0 modification,
// bit 1 access, bit 2 creation time present), then those 4-byte Unix times.
constexpr unsigned char kTimestampId0 = 'U';
constexpr unsigned char kTimestampId1 = 'T';

// Zip64 (APPNOTE 4.3.14, 4.3.15, 4.5.3): a 32-bit size or offset field that
// holds 0xFFFFFFFF (a 16-bit disk number 0xFFFF) takes its value from the
// Zip64 extended information block of the record's extra field; the end
// record's fields likewise from the Zip64 end record, which the Zip64 end
// locator just before the end record points at.
constexpr uint32_t kZip64EndRecordSignature = 0x06064B50;   // "PK\6\6"
constexpr uint32_t kZip64EndLocatorSignature = 0x07064B50;  // "PK\6\7"
constexpr uint32_t kZip64EndRecordSize = 56;   // without its extensible data
constexpr uint32_t kZip64EndLocatorSize = 20;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint32_t kZip64Marker = 0xFFFFFFFFu;

// Info-ZIP's Unicode Path block (APPNOTE 4.6.9): version 1, the CRC-32 of
// the record's name field, then the name in UTF-8.
constexpr uint16_t kUnicodePathExtraId = 0x7075;

inline uint16_t get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t get32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t get64(const unsigned char* p) { return uint64_t(get32(p)) | uint64_t(get32(p + 4)) << 32; }
inline void put16(unsigned char* p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void put32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

// What the writer adds: 8-byte stores, and the data descriptor with the
// 8-byte sizes of an item with Zip64 sizes (APPNOTE 4.3.9).
constexpr uint32_t kZip64DataDescriptorSize = 24;
inline void put64(unsigned char* p, uint64_t v) {
  put32(p, static_cast<uint32_t>(v));
  put32(p + 4, static_cast<uint32_t>(v >> 32));
}

// ---------------------------------------------------------------------------
// External attributes (APPNOTE 4.4.15): the DOS attribute bits in the low
// byte, and, from a Unix host, the file's mode in the high 16 bits.

constexpr uint32_t kDosReadOnly = 0x01;
constexpr uint32_t kDosHidden = 0x02;
constexpr uint32_t kDosSystem = 0x04;
constexpr uint32_t kDosDirectory = 0x10;
constexpr uint32_t kDosArchive = 0x20;
constexpr uint32_t kDosAttributeMask = kDosReadOnly | kDosHidden | kDosSystem | kDosDirectory | kDosArchive;

constexpr unsigned kUnixModeShift = 16;
constexpr uint32_t kUnixTypeMask = 0170000;       // the file-type bits of a mode
constexpr uint32_t kUnixTypeDirectory = 0040000;
constexpr uint32_t kUnixTypeRegular = 0100000;
constexpr uint32_t kUnixTypeSymlink = 0120000;
constexpr uint32_t kUnixOwnerRead = 0400;
constexpr uint32_t kUnixOwnerWrite = 0200;
constexpr uint32_t kUnixOwnerExecute = 0100;
constexpr uint32_t kUnixPermissionMask = 0777;    // read, write, execute for owner, group, others

inline uint32_t unix_mode_of(uint32_t external_attributes) { return external_attributes >> kUnixModeShift; }
inline uint32_t external_attributes_of(uint32_t unix_mode, uint32_t dos_attributes) {
  return unix_mode << kUnixModeShift | (dos_attributes & kDosAttributeMask);
}

// The host system in the high byte of "version made by" (APPNOTE 4.4.2),
// those the reader tells apart. On hosts 0, 7, 11 and 14 the external
// attributes' low byte holds DOS bits the reader believes; on host 3 the
// high half holds a Unix mode.
constexpr uint32_t kHostMsDos = 0;
constexpr uint32_t kHostUnix = 3;
constexpr uint32_t kHostMacintosh = 7;
constexpr uint32_t kHostMvs = 11;  // this library's writer names this host
constexpr uint32_t kHostVfat = 14;
inline uint32_t host_of(uint32_t version_made_by) { return version_made_by >> 8; }

// ---------------------------------------------------------------------------
// Record types. encode() writes the fixed part, signature first, into `out`,
// which holds at least kSize bytes (for the data descriptor size()). decode()
// reads it from `in`, of which `available` bytes are there; it refuses
// (false) input shorter than the fixed part or without the record's
// signature, and then leaves the fields unspecified. Fields hold the values
// as stored: a 32-bit field holding kZip64Marker is not resolved here.

// Local file header (APPNOTE 4.3.7).
struct LocalHeader {
  static constexpr uint32_t kSize = kLocalHeaderSize;
  uint16_t version_needed = 0;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t dos_datetime = 0;  // time in the low half, date in the high half
  uint32_t crc = 0;
  uint32_t compressed_size = 0;
  uint32_t uncompressed_size = 0;
  uint16_t name_length = 0;
  uint16_t extra_length = 0;
  void encode(unsigned char* out) const;
  bool decode(const unsigned char* in, size_t available);
};

// Central directory header (APPNOTE 4.3.12).
struct CentralRecord {
  static constexpr uint32_t kSize = kCentralHeaderSize;
  uint16_t version_made_by = 0;  // host in the high byte, format version in the low
  uint16_t version_needed = 0;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t dos_datetime = 0;  // time in the low half, date in the high half
  uint32_t crc = 0;
  uint32_t compressed_size = 0;
  uint32_t uncompressed_size = 0;
  uint16_t name_length = 0;
  uint16_t extra_length = 0;
  uint16_t comment_length = 0;
  uint16_t disk_start = 0;
  uint16_t internal_attributes = 0;
  uint32_t external_attributes = 0;
  uint32_t local_header_offset = 0;
  // The whole record: fixed part, name, extra field and comment.
  uint64_t total_size() const { return uint64_t(kSize) + name_length + extra_length + comment_length; }
  void encode(unsigned char* out) const;
  bool decode(const unsigned char* in, size_t available);
};

// End of central directory record (APPNOTE 4.3.16).
struct EndRecord {
  static constexpr uint32_t kSize = kEndRecordSize;
  uint16_t disk = 0;            // number of this disk
  uint16_t directory_disk = 0;  // disk where the central directory starts
  uint16_t entries_on_disk = 0;
  uint16_t entries = 0;
  uint32_t directory_size = 0;
  uint32_t directory_offset = 0;
  uint16_t comment_length = 0;
  void encode(unsigned char* out) const;
  bool decode(const unsigned char* in, size_t available);
};

// Zip64 end of central directory record (APPNOTE 4.3.14), version 1: the
// fixed part only; record_size counts what follows that field (44 bytes of
// fixed fields and any extensible data).
struct Zip64EndRecord {
  static constexpr uint32_t kSize = kZip64EndRecordSize;
  static constexpr uint64_t kFixedRecordSize = kZip64EndRecordSize - 12;
  uint64_t record_size = kFixedRecordSize;
  uint16_t version_made_by = 0;
  uint16_t version_needed = 0;
  uint32_t disk = 0;
  uint32_t directory_disk = 0;
  uint64_t entries_on_disk = 0;
  uint64_t entries = 0;
  uint64_t directory_size = 0;
  uint64_t directory_offset = 0;
  void encode(unsigned char* out) const;
  bool decode(const unsigned char* in, size_t available);
};

// Zip64 end of central directory locator (APPNOTE 4.3.15).
struct Zip64EndLocator {
  static constexpr uint32_t kSize = kZip64EndLocatorSize;
  uint32_t end_record_disk = 0;    // disk holding the Zip64 end record
  uint64_t end_record_offset = 0;  // from the start of the archive
  uint32_t disks = 1;              // disks in all
  void encode(unsigned char* out) const;
  bool decode(const unsigned char* in, size_t available);
};

// Data descriptor (APPNOTE 4.3.9), with its signature: 16 bytes with 4-byte
// sizes, 24 with the 8-byte sizes of an item with Zip64 sizes.
struct DataDescriptor {
  bool zip64 = false;
  uint32_t crc = 0;
  uint64_t compressed_size = 0;    // written as 4 bytes unless zip64
  uint64_t uncompressed_size = 0;
  uint32_t size() const { return zip64 ? kZip64DataDescriptorSize : kDataDescriptorSize; }
  // Writes size() bytes; returns that count.
  uint32_t encode(unsigned char* out) const;
  // Reads the form `zip64` names; refuses input shorter than size() or
  // without the signature (a descriptor may lack it, APPNOTE 4.3.9.3: such
  // a descriptor is not decoded here).
  bool decode(const unsigned char* in, size_t available);
};

// Zip64 extended information extra block (APPNOTE 4.5.3), tag 0x0001: the
// values of the fields whose 32-bit (16-bit) copies in the record hold the
// marker, each 8 bytes (the disk number 4), always in this order: original
// size, compressed size, local header offset, disk start. Which are there
// is not in the block itself, so the has_ flags say it: the writer sets them
// for what it puts in, the reader for what it expects to find.
struct Zip64Extra {
  static constexpr uint32_t kHeadSize = 4;  // tag and data length
  static constexpr uint32_t kMaxSize = kHeadSize + 3 * 8 + 4;
  bool has_uncompressed_size = false;
  bool has_compressed_size = false;
  bool has_local_header_offset = false;
  bool has_disk_start = false;
  uint64_t uncompressed_size = 0;
  uint64_t compressed_size = 0;
  uint64_t local_header_offset = 0;
  uint32_t disk_start = 0;
  // Length of the block's data, without its 4-byte head.
  uint32_t data_size() const;
  // Writes the whole block, head first; returns kHeadSize + data_size().
  uint32_t encode(unsigned char* out) const;
  // Reads the block's data (after the head), `length` bytes, taking the
  // fields whose has_ flag is set in the order above and checking before
  // each that the data still holds it. The first field that does not fit
  // and every field after it have their has_ flag cleared and keep their
  // value; decode then returns false. True when every flagged field was
  // there (extra bytes after them are allowed).
  bool decode(const unsigned char* data, uint32_t length);
};

// Extended-timestamp extra block "UT" (Info-ZIP; APPNOTE 4.6 lists third-
// party blocks): a flag byte naming the times the file has (modification,
// access, creation), then some of those times as 4-byte Unix times, in that
// order. A local header's block holds every time its flags name; a central
// one may hold fewer (only the modification time), with the same flags.
struct ExtendedTimestamp {
  static constexpr uint16_t kId = uint16_t(kTimestampId0 | kTimestampId1 << 8);
  static constexpr uint8_t kModification = 0x01, kAccess = 0x02, kCreation = 0x04;
  static constexpr uint32_t kMaxSize = 4 + 1 + 3 * 4;
  uint8_t flags = 0;  // the flag byte as stored
  uint8_t held = 0;   // which times the block holds (same bits), a subset of flags
  uint32_t modification_time = 0, access_time = 0, creation_time = 0;
  // Writes the whole block, head first: the flag byte `flags`, then the
  // times named in `held`. Returns its size, 5 + 4 per time.
  uint32_t encode(unsigned char* out) const;
  // Reads the block's data, `length` bytes: the flag byte, then each time
  // the flags name, in order, that lies whole within `length`; `held` says
  // which were taken. False (nothing taken) when there is no flag byte.
  bool decode(const unsigned char* data, uint32_t length);
};

// NTFS extra block (APPNOTE 4.5.5), tag 0x000a: 4 reserved bytes, then
// attributes, each a 2-byte tag, a 2-byte size and that many bytes.
// Attribute 1, of size 24, holds the modification, access and creation time
// as Windows file times (100-ns ticks since 1601-01-01 UTC). 7-Zip writes
// the block in the central record only, with 0 for a time it did not keep.
struct NtfsExtra {
  static constexpr uint16_t kId = 0x000A;
  static constexpr uint16_t kTimesTag = 0x0001;
  static constexpr uint32_t kTimesSize = 3 * 8;
  static constexpr uint32_t kSize = 4 + 4 + 4 + kTimesSize;  // the block as encode writes it
  uint64_t modification_time = 0, access_time = 0, creation_time = 0;
  // Writes the whole block, head first: reserved bytes 0, then attribute 1
  // with the three times. Returns kSize.
  uint32_t encode(unsigned char* out) const;
  // Reads the block's data, `length` bytes: steps over the attributes, each
  // only while its head and data lie whole within `length`, and takes the
  // times of the first attribute 1 that holds all three. False (nothing
  // taken) when there is none before the data ends or an attribute runs
  // past it.
  bool decode(const unsigned char* data, uint32_t length);
};

// Info-ZIP's older Unix extra block, tag 0x5855 ("UX"; APPNOTE 4.6 lists it):
// the access time, then the modification time, as 4-byte Unix times; a local
// header's block may go on with the user and group id, 2 bytes each.
struct InfoZipUnixExtra {
  static constexpr uint16_t kId = 0x5855;
  static constexpr uint32_t kTimesSize = 2 * 4;
  static constexpr uint32_t kMaxSize = 4 + kTimesSize + 2 * 2;
  uint32_t access_time = 0, modification_time = 0;
  bool has_ids = false;  // the user and group id follow the times
  uint16_t uid = 0, gid = 0;
  // Writes the whole block, head first; returns its size, 12, or 16 with
  // the ids.
  uint32_t encode(unsigned char* out) const;
  // Reads the block's data, `length` bytes: both times, and the ids when
  // they lie within it too. False (nothing taken) when the data is shorter
  // than the two times.
  bool decode(const unsigned char* data, uint32_t length);
};

// Info-ZIP's Unicode Path extra block (APPNOTE 4.6.9): version 1, the CRC-32
// of the record's name field, then the name in UTF-8 to the block's end.
struct UnicodePathExtra {
  static constexpr uint16_t kId = kUnicodePathExtraId;
  static constexpr uint32_t kFixedSize = 5;  // version and CRC-32
  uint8_t version = 0;
  uint32_t name_crc = 0;
  const unsigned char* name = nullptr;  // within the decoded data
  uint32_t name_length = 0;
  // False when the data is shorter than the fixed part.
  bool decode(const unsigned char* data, uint32_t length);
};

}  // namespace quillon
