#include "support/zip_parse.h"

#include "support/testkit.h"
#include "zip/format/cipher.h"
#include "zip/format/crc32.h"

namespace ztest {
namespace {

using testkit::get16;
using testkit::get32;
using testkit::get64;

// The records as PKWARE's APPNOTE lays them out, spelled out here rather than
// taken from the library, so that the tests check its records against a
// reading of their own.
constexpr uint32_t kLocalHeaderSignature = 0x04034B50;       // 4.3.7
constexpr uint32_t kDataDescriptorSignature = 0x08074B50;    // 4.3.9
constexpr uint32_t kCentralHeaderSignature = 0x02014B50;     // 4.3.12
constexpr uint32_t kZip64EndRecordSignature = 0x06064B50;    // 4.3.14
constexpr uint32_t kZip64EndLocatorSignature = 0x07064B50;   // 4.3.15
constexpr uint32_t kEndRecordSignature = 0x06054B50;         // 4.3.16
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kDataDescriptorSize = 16;       // with its signature
constexpr size_t kZip64DataDescriptorSize = 24;  // with its signature
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kZip64EndRecordSize = 56;
constexpr size_t kZip64EndLocatorSize = 20;
constexpr size_t kEndRecordSize = 22;
constexpr uint16_t kFlagEncrypted = 0x0001;  // 4.4.4 bit 0
constexpr uint16_t kMethodDeflated = 8;      // 4.4.5
constexpr size_t kEncryptionHeaderSize = 12;  // 6.1

const unsigned char* at(const std::string& b, size_t pos) { return reinterpret_cast<const unsigned char*>(b.data()) + pos; }

// The values of the Zip64 block (identifier 1) of an extra field, or none.
std::vector<uint64_t> zip64_values(const std::string& extra) {
  std::vector<uint64_t> v;
  for (size_t p = 0; p + 4 <= extra.size();) {
    const unsigned id = get16(at(extra, p)), n = get16(at(extra, p + 2));
    if (id == 1)
      for (size_t i = 0; i + 8 <= n && p + 4 + i + 8 <= extra.size(); i += 8) v.push_back(get64(at(extra, p + 4 + i)));
    p += 4 + n;
  }
  return v;
}

}  // namespace

Archive parse(const std::string& b) {
  Archive a;
  if (b.size() < kEndRecordSize) {
    a.error = "too short";
    return a;
  }
  a.end_pos = b.size() - kEndRecordSize;
  const unsigned char* e = at(b, a.end_pos);
  if (get32(e) != kEndRecordSignature) {
    a.error = "no end record";
    return a;
  }
  a.count_disk = get16(e + 8);
  a.count_total = get16(e + 10);
  a.cd_size = a.raw_cd_size = get32(e + 12);
  a.cd_offset = a.raw_cd_offset = get32(e + 16);
  size_t cd_end = a.end_pos;
  if (a.end_pos >= kZip64EndLocatorSize && get32(at(b, a.end_pos - kZip64EndLocatorSize)) == kZip64EndLocatorSignature) {
    const unsigned char* l = at(b, a.end_pos - kZip64EndLocatorSize);
    const uint64_t z = get64(l + 8);
    if (get32(l + 4) != 0 || get32(l + 16) != 1 || z + kZip64EndRecordSize != a.end_pos - kZip64EndLocatorSize ||
        get32(at(b, z)) != kZip64EndRecordSignature || get64(at(b, z + 4)) != kZip64EndRecordSize - 12) {
      a.error = "bad Zip64 end record or locator";
      return a;
    }
    const unsigned char* r = at(b, z);
    a.has_zip64_end = true;
    a.zip64_end_pos = z;
    a.zip64_needed = get16(r + 14);
    a.zip64_count_disk = get64(r + 24);
    a.zip64_count_total = get64(r + 32);
    if (a.raw_cd_size == 0xFFFFFFFFu) a.cd_size = get64(r + 40);
    if (a.raw_cd_offset == 0xFFFFFFFFu) a.cd_offset = get64(r + 48);
    if (get64(r + 40) != a.cd_size || get64(r + 48) != a.cd_offset) {
      a.error = "Zip64 end record disagrees with the end record";
      return a;
    }
    cd_end = z;
  }
  if (a.cd_offset + a.cd_size != cd_end) {
    a.error = "directory does not end at the end record";
    return a;
  }
  size_t p = a.cd_offset;
  while (p < cd_end) {
    if (p + kCentralHeaderSize > cd_end || get32(at(b, p)) != kCentralHeaderSignature) {
      a.error = "bad central header";
      return a;
    }
    const unsigned char* c = at(b, p);
    Entry en;
    en.made_by = get16(c + 4);
    en.needed = get16(c + 6);
    en.flags = get16(c + 8);
    en.method = get16(c + 10);
    en.stamp = get32(c + 12);
    en.crc = get32(c + 16);
    en.csize = en.raw_csize = get32(c + 20);
    en.usize = en.raw_usize = get32(c + 24);
    const unsigned nl = get16(c + 28), xl = get16(c + 30), cl = get16(c + 32);
    en.disk = get16(c + 34);
    en.internal_attr = get16(c + 36);
    en.external_attr = get32(c + 38);
    en.offset = en.raw_offset = get32(c + 42);
    en.name = b.substr(p + 46, nl);
    en.central_extra = b.substr(p + 46 + nl, xl);
    en.comment = b.substr(p + 46 + nl + xl, cl);
    p += 46 + nl + xl + cl;
    en.zip64 = zip64_values(en.central_extra);
    size_t next = 0;
    if (en.raw_usize == 0xFFFFFFFFu && next < en.zip64.size()) en.usize = en.zip64[next++];
    if (en.raw_csize == 0xFFFFFFFFu && next < en.zip64.size()) en.csize = en.zip64[next++];
    if (en.raw_offset == 0xFFFFFFFFu && next < en.zip64.size()) en.offset = en.zip64[next++];

    size_t l = en.offset;
    if (l + kLocalHeaderSize > b.size() || get32(at(b, l)) != kLocalHeaderSignature) {
      a.error = "bad local header for " + en.name;
      return a;
    }
    const unsigned char* h = at(b, l);
    en.l_needed = get16(h + 4);
    en.l_flags = get16(h + 6);
    en.l_method = get16(h + 8);
    en.l_stamp = get32(h + 10);
    en.l_crc = get32(h + 14);
    en.l_csize = en.l_raw_csize = get32(h + 18);
    en.l_usize = en.l_raw_usize = get32(h + 22);
    const unsigned lnl = get16(h + 26), lxl = get16(h + 28);
    en.l_name = b.substr(l + 30, lnl);
    en.local_extra = b.substr(l + 30 + lnl, lxl);
    en.l_zip64 = zip64_values(en.local_extra);
    if (en.l_raw_usize == 0xFFFFFFFFu && en.l_zip64.size() == 2) {
      en.l_usize = en.l_zip64[0];
      en.l_csize = en.l_zip64[1];
    }
    en.data_pos = l + 30 + lnl + lxl;
    const size_t d = en.data_pos + en.csize;
    if (d + kDataDescriptorSize <= b.size() && get32(at(b, d)) == kDataDescriptorSignature) {
      en.has_descriptor = true;
      en.d_crc = get32(at(b, d + 4));
      if (!en.l_zip64.empty() && d + kZip64DataDescriptorSize <= b.size()) {
        en.d_csize = get64(at(b, d + 8));
        en.d_usize = get64(at(b, d + 16));
      } else {
        en.d_csize = get32(at(b, d + 8));
        en.d_usize = get32(at(b, d + 12));
      }
    }
    a.entries.push_back(en);
  }
  return a;
}

std::string encryption_header(const std::string& bytes, const Entry& e, const char* password) {
  uint32_t keys[3];
  quillon::setup_keys(keys, password);
  std::string h = bytes.substr(e.data_pos, kEncryptionHeaderSize);
  for (char& c : h) c = quillon::zdecode(keys, c);
  return h;
}

std::string data_of(const std::string& bytes, const Entry& e, const char* password, std::string* error) {
  std::string raw = bytes.substr(e.data_pos, e.csize);
  if (e.flags & kFlagEncrypted) {
    uint32_t keys[3];
    quillon::setup_keys(keys, password);
    for (char& c : raw) c = quillon::zdecode(keys, c);
    raw.erase(0, kEncryptionHeaderSize);
  }
  std::string out;
  if (e.method == kMethodDeflated) {
    if (!testkit::inflate_raw(raw, &out)) {
      *error = "inflate failed for " + e.name;
      return out;
    }
  } else {
    out = raw;
  }
  const uint32_t crc =
      quillon::crc32(0, reinterpret_cast<const unsigned char*>(out.data()), out.size());
  if (crc != e.crc || out.size() != e.usize) *error = "CRC or size mismatch for " + e.name;
  return out;
}

}  // namespace ztest
