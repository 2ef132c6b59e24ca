// The fixed parts of the ZIP records, field by field: the one place that
// knows at which byte each field lies. All integers are little-endian.
#include "zip/format/records.h"

namespace quillon {

namespace {

// True when `in` holds `size` bytes starting with `signature`.
bool has_record(const unsigned char* in, size_t available, uint32_t size, uint32_t signature) {
  return in != nullptr && available >= size && get32(in) == signature;
}

}  // namespace

// APPNOTE 4.3.7: signature, version needed, flags, method, DOS time and
// date, CRC-32, compressed and uncompressed size, name and extra lengths.
void LocalHeader::encode(unsigned char* out) const {
  put32(out, kLocalHeaderSignature);
  put16(out + 4, version_needed);
  put16(out + 6, flags);
  put16(out + 8, method);
  put32(out + 10, dos_datetime);
  put32(out + 14, crc);
  put32(out + 18, compressed_size);
  put32(out + 22, uncompressed_size);
  put16(out + 26, name_length);
  put16(out + 28, extra_length);
}

bool LocalHeader::decode(const unsigned char* in, size_t available) {
  if (!has_record(in, available, kSize, kLocalHeaderSignature)) return false;
  version_needed = get16(in + 4);
  flags = get16(in + 6);
  method = get16(in + 8);
  dos_datetime = get32(in + 10);
  crc = get32(in + 14);
  compressed_size = get32(in + 18);
  uncompressed_size = get32(in + 22);
  name_length = get16(in + 26);
  extra_length = get16(in + 28);
  return true;
}

// APPNOTE 4.3.12: as the local header, with version made by in front and,
// after the lengths, the comment length, disk start, internal and external
// attributes and the local header's offset.
void CentralRecord::encode(unsigned char* out) const {
  put32(out, kCentralHeaderSignature);
  put16(out + 4, version_made_by);
  put16(out + 6, version_needed);
  put16(out + 8, flags);
  put16(out + 10, method);
  put32(out + 12, dos_datetime);
  put32(out + 16, crc);
  put32(out + 20, compressed_size);
  put32(out + 24, uncompressed_size);
  put16(out + 28, name_length);
  put16(out + 30, extra_length);
  put16(out + 32, comment_length);
  put16(out + 34, disk_start);
  put16(out + 36, internal_attributes);
  put32(out + 38, external_attributes);
  put32(out + 42, local_header_offset);
}

bool CentralRecord::decode(const unsigned char* in, size_t available) {
  if (!has_record(in, available, kSize, kCentralHeaderSignature)) return false;
  version_made_by = get16(in + 4);
  version_needed = get16(in + 6);
  flags = get16(in + 8);
  method = get16(in + 10);
  dos_datetime = get32(in + 12);
  crc = get32(in + 16);
  compressed_size = get32(in + 20);
  uncompressed_size = get32(in + 24);
  name_length = get16(in + 28);
  extra_length = get16(in + 30);
  comment_length = get16(in + 32);
  disk_start = get16(in + 34);
  internal_attributes = get16(in + 36);
  external_attributes = get32(in + 38);
  local_header_offset = get32(in + 42);
  return true;
}

// APPNOTE 4.3.16.
void EndRecord::encode(unsigned char* out) const {
  put32(out, kEndRecordSignature);
  put16(out + 4, disk);
  put16(out + 6, directory_disk);
  put16(out + 8, entries_on_disk);
  put16(out + 10, entries);
  put32(out + 12, directory_size);
  put32(out + 16, directory_offset);
  put16(out + 20, comment_length);
}

bool EndRecord::decode(const unsigned char* in, size_t available) {
  if (!has_record(in, available, kSize, kEndRecordSignature)) return false;
  disk = get16(in + 4);
  directory_disk = get16(in + 6);
  entries_on_disk = get16(in + 8);
  entries = get16(in + 10);
  directory_size = get32(in + 12);
  directory_offset = get32(in + 16);
  comment_length = get16(in + 20);
  return true;
}

// APPNOTE 4.3.14: the end record's fields widened, with the record's own
// size and the two versions in front.
void Zip64EndRecord::encode(unsigned char* out) const {
  put32(out, kZip64EndRecordSignature);
  put64(out + 4, record_size);
  put16(out + 12, version_made_by);
  put16(out + 14, version_needed);
  put32(out + 16, disk);
  put32(out + 20, directory_disk);
  put64(out + 24, entries_on_disk);
  put64(out + 32, entries);
  put64(out + 40, directory_size);
  put64(out + 48, directory_offset);
}

bool Zip64EndRecord::decode(const unsigned char* in, size_t available) {
  if (!has_record(in, available, kSize, kZip64EndRecordSignature)) return false;
  record_size = get64(in + 4);
  version_made_by = get16(in + 12);
  version_needed = get16(in + 14);
  disk = get32(in + 16);
  directory_disk = get32(in + 20);
  entries_on_disk = get64(in + 24);
  entries = get64(in + 32);
  directory_size = get64(in + 40);
  directory_offset = get64(in + 48);
  return true;
}

// APPNOTE 4.3.15.
void Zip64EndLocator::encode(unsigned char* out) const {
  put32(out, kZip64EndLocatorSignature);
  put32(out + 4, end_record_disk);
  put64(out + 8, end_record_offset);
  put32(out + 16, disks);
}

bool Zip64EndLocator::decode(const unsigned char* in, size_t available) {
  if (!has_record(in, available, kSize, kZip64EndLocatorSignature)) return false;
  end_record_disk = get32(in + 4);
  end_record_offset = get64(in + 8);
  disks = get32(in + 16);
  return true;
}

// APPNOTE 4.3.9: signature, CRC-32, then both sizes, 4 or 8 bytes each.
uint32_t DataDescriptor::encode(unsigned char* out) const {
  put32(out, kDataDescriptorSignature);
  put32(out + 4, crc);
  if (zip64) {
    put64(out + 8, compressed_size);
    put64(out + 16, uncompressed_size);
  } else {
    put32(out + 8, static_cast<uint32_t>(compressed_size));
    put32(out + 12, static_cast<uint32_t>(uncompressed_size));
  }
  return size();
}

bool DataDescriptor::decode(const unsigned char* in, size_t available) {
  if (!has_record(in, available, size(), kDataDescriptorSignature)) return false;
  crc = get32(in + 4);
  if (zip64) {
    compressed_size = get64(in + 8);
    uncompressed_size = get64(in + 16);
  } else {
    compressed_size = get32(in + 8);
    uncompressed_size = get32(in + 12);
  }
  return true;
}

// APPNOTE 4.5.3: the values in a fixed order, each present only when the
// record's own field holds the marker.
uint32_t Zip64Extra::data_size() const {
  return 8 * (uint32_t(has_uncompressed_size) + has_compressed_size + has_local_header_offset) +
         4 * uint32_t(has_disk_start);
}

uint32_t Zip64Extra::encode(unsigned char* out) const {
  put16(out, kZip64ExtraId);
  put16(out + 2, static_cast<uint16_t>(data_size()));
  unsigned char* p = out + kHeadSize;
  if (has_uncompressed_size) put64(p, uncompressed_size), p += 8;
  if (has_compressed_size) put64(p, compressed_size), p += 8;
  if (has_local_header_offset) put64(p, local_header_offset), p += 8;
  if (has_disk_start) put32(p, disk_start), p += 4;
  return static_cast<uint32_t>(p - out);
}

bool Zip64Extra::decode(const unsigned char* data, uint32_t length) {
  uint32_t at = 0;
  bool fits = true;
  // Each flagged field in turn, while the data still holds it.
  auto take64 = [&](bool* has, uint64_t* value) {
    if (!*has) return;
    if (!fits || length - at < 8) {
      fits = false;
      *has = false;
      return;
    }
    *value = get64(data + at);
    at += 8;
  };
  take64(&has_uncompressed_size, &uncompressed_size);
  take64(&has_compressed_size, &compressed_size);
  take64(&has_local_header_offset, &local_header_offset);
  if (has_disk_start) {
    if (!fits || length - at < 4) {
      fits = false;
      has_disk_start = false;
    } else {
      disk_start = get32(data + at);
    }
  }
  return fits;
}

uint32_t ExtendedTimestamp::encode(unsigned char* out) const {
  const uint32_t times[3] = {modification_time, access_time, creation_time};
  uint32_t at = 5;
  for (int bit = 0; bit < 3; ++bit) {
    if (!(held & (1u << bit))) continue;
    put32(out + at, times[bit]);
    at += 4;
  }
  put16(out, kId);
  put16(out + 2, static_cast<uint16_t>(at - 4));
  out[4] = flags;
  return at;
}

bool ExtendedTimestamp::decode(const unsigned char* data, uint32_t length) {
  held = 0;
  if (length < 1) return false;
  flags = data[0];
  uint32_t* times[3] = {&modification_time, &access_time, &creation_time};
  uint32_t at = 1;
  for (int bit = 0; bit < 3; ++bit) {
    if (!(flags & (1u << bit))) continue;
    if (length - at >= 4) {
      *times[bit] = get32(data + at);
      held |= static_cast<uint8_t>(1u << bit);
    }
    at = length - at >= 4 ? at + 4 : length;
  }
  return true;
}

// APPNOTE 4.5.5: the reserved word, then attribute 1 with its size and the
// modification, access and creation time in that order.
uint32_t NtfsExtra::encode(unsigned char* out) const {
  put16(out, kId);
  put16(out + 2, static_cast<uint16_t>(kSize - 4));
  put32(out + 4, 0);
  put16(out + 8, kTimesTag);
  put16(out + 10, static_cast<uint16_t>(kTimesSize));
  put64(out + 12, modification_time);
  put64(out + 20, access_time);
  put64(out + 28, creation_time);
  return kSize;
}

bool NtfsExtra::decode(const unsigned char* data, uint32_t length) {
  if (data == nullptr || length < 4) return false;
  uint32_t at = 4;  // past the reserved bytes
  while (length - at >= 4) {
    const uint32_t tag = get16(data + at), size = get16(data + at + 2);
    at += 4;
    if (size > length - at) return false;  // an attribute that runs past the block
    if (tag == kTimesTag && size >= kTimesSize) {
      modification_time = get64(data + at);
      access_time = get64(data + at + 8);
      creation_time = get64(data + at + 16);
      return true;
    }
    at += size;
  }
  return false;
}

uint32_t InfoZipUnixExtra::encode(unsigned char* out) const {
  const uint32_t data = kTimesSize + (has_ids ? 4 : 0);
  put16(out, kId);
  put16(out + 2, static_cast<uint16_t>(data));
  put32(out + 4, access_time);
  put32(out + 8, modification_time);
  if (has_ids) {
    put16(out + 12, uid);
    put16(out + 14, gid);
  }
  return 4 + data;
}

bool InfoZipUnixExtra::decode(const unsigned char* data, uint32_t length) {
  has_ids = false;
  if (data == nullptr || length < kTimesSize) return false;
  access_time = get32(data);
  modification_time = get32(data + 4);
  if (length >= kTimesSize + 4) {
    has_ids = true;
    uid = get16(data + 8);
    gid = get16(data + 10);
  }
  return true;
}

bool UnicodePathExtra::decode(const unsigned char* data, uint32_t length) {
  if (data == nullptr || length < kFixedSize) return false;
  version = data[0];
  name_crc = get32(data + 1);
  name = data + kFixedSize;
  name_length = length - kFixedSize;
  return true;
}

}  // namespace quillon
