// The records of the ZIP format as the library reads and writes them: their
// signatures, fixed sizes and flag bits, and little-endian field access.
// Local header (30 bytes + name + extra), data descriptor (16), central
// header (46 + name + extra + comment), end record (22 + comment).
#pragma once
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

}  // namespace quillon
