#include "support/zip_builder.h"

#include <zlib.h>

#include <cstdio>

#include "zip/common/cipher.h"
#include "zip/common/crc32.h"

namespace ziptest {

namespace {

void add16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void add32(std::string& s, uint32_t v) {
  add16(s, v & 0xFFFF);
  add16(s, v >> 16);
}

std::string local_header(const std::string& name, uint16_t method, uint32_t crc, uint32_t csize, uint32_t usize) {
  std::string h;
  add32(h, 0x04034B50);
  add16(h, 20);
  add16(h, 0);
  add16(h, method);
  add32(h, 0x59A16C21);
  add32(h, crc);
  add32(h, csize);
  add32(h, usize);
  add16(h, static_cast<uint32_t>(name.size()));
  add16(h, 0);
  return h + name;
}

std::string central_record(const std::string& name, uint16_t method, uint32_t crc, uint32_t csize, uint32_t usize,
                           uint32_t local_at) {
  std::string c;
  add32(c, 0x02014B50);
  add16(c, 0x0314);
  add16(c, 20);
  add16(c, 0);
  add16(c, method);
  add32(c, 0x59A16C21);
  add32(c, crc);
  add32(c, csize);
  add32(c, usize);
  add16(c, static_cast<uint32_t>(name.size()));
  add32(c, 0);  // extra field and comment lengths
  add32(c, 0);  // disk, internal attributes
  add32(c, 0x81A40000);
  add32(c, local_at);
  return c + name;
}

std::string end_record(size_t entries, size_t dir_size, size_t dir_at) {
  std::string e;
  add32(e, 0x06054B50);
  add32(e, 0);
  add16(e, static_cast<uint32_t>(entries));
  add16(e, static_cast<uint32_t>(entries));
  add32(e, static_cast<uint32_t>(dir_size));
  add32(e, static_cast<uint32_t>(dir_at));
  add16(e, 0);
  return e;
}

std::string numbered(const char* stem, int i) {
  char name[32];
  std::snprintf(name, sizeof name, "%s%05d.bin", stem, i);
  return name;
}

}  // namespace

std::string full_overlap_archive(int entries, size_t kernel_size) {
  const std::string plain(kernel_size, '\0');
  const std::string kernel = deflate_raw(plain, 9);
  const uint32_t crc = crc_of(plain), csize = static_cast<uint32_t>(kernel.size());
  const uint32_t usize = static_cast<uint32_t>(plain.size());
  std::string z = local_header(numbered("full", 0), 8, crc, csize, usize) + kernel;
  std::string dir;
  for (int i = 0; i < entries; ++i) dir += central_record(numbered("full", i), 8, crc, csize, usize, 0);
  const size_t dir_at = z.size();
  return z + dir + end_record(entries, dir.size(), dir_at);
}

std::string quoted_overlap_archive(int entries, size_t kernel_size) {
  const std::string plain(kernel_size, '\0');
  const std::string kernel = deflate_raw(plain, 9);
  // From the last entry back: each quotes the header of the one after it.
  std::vector<std::string> headers(entries);
  std::vector<uint32_t> crcs(entries), csizes(entries), usizes(entries);
  for (int i = entries - 1; i >= 0; --i) {
    if (i == entries - 1) {
      crcs[i] = crc_of(plain);
      csizes[i] = static_cast<uint32_t>(kernel.size());
      usizes[i] = static_cast<uint32_t>(plain.size());
    } else {
      const std::string& quoted = headers[i + 1];
      const uint32_t crc_quoted = crc32(0, reinterpret_cast<const Bytef*>(quoted.data()), uInt(quoted.size()));
      crcs[i] = static_cast<uint32_t>(crc32_combine(crc_quoted, crcs[i + 1], usizes[i + 1]));
      csizes[i] = static_cast<uint32_t>(5 + quoted.size() + csizes[i + 1]);
      usizes[i] = static_cast<uint32_t>(quoted.size() + usizes[i + 1]);
    }
    headers[i] = local_header(numbered("quoted", i), 8, crcs[i], csizes[i], usizes[i]);
  }
  std::string z, dir;
  for (int i = 0; i < entries; ++i) {
    dir += central_record(numbered("quoted", i), 8, crcs[i], csizes[i], usizes[i], static_cast<uint32_t>(z.size()));
    z += headers[i];
    if (i + 1 < entries) {
      // A stored block, not the last: BFINAL 0, BTYPE 00, then LEN and its
      // complement (RFC 1951, 3.2.4), then the LEN bytes it holds.
      const uint32_t len = static_cast<uint32_t>(headers[i + 1].size());
      z += '\0';
      add16(z, len);
      add16(z, ~len & 0xFFFF);
    }
  }
  z += kernel;
  const size_t dir_at = z.size();
  return z + dir + end_record(entries, dir.size(), dir_at);
}

void put16(std::string& s, size_t at, uint16_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>(v >> 8);
}
void put32(std::string& s, size_t at, uint32_t v) {
  put16(s, at, static_cast<uint16_t>(v));
  put16(s, at + 2, static_cast<uint16_t>(v >> 16));
}
uint32_t get32(const std::string& s, size_t at) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data() + at);
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint32_t crc_of(const std::string& data) {
  return quillon::ucrc32(0, reinterpret_cast<const unsigned char*>(data.data()), data.size());
}

std::string deflate_raw(const std::string& data, int level) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string ut_block(uint8_t flags, const std::vector<uint32_t>& times) {
  std::string b = "UT";
  add16(b, static_cast<uint32_t>(1 + 4 * times.size()));
  b += static_cast<char>(flags);
  for (uint32_t t : times) add32(b, t);
  return b;
}

std::string sample(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    // Mostly text-like runs, so deflate has something to find.
    s[i] = (i / 64) % 3 == 0 ? static_cast<char>(x >> 24) : static_cast<char>('a' + (x >> 16) % 7);
  }
  return s;
}

Layout build(const std::vector<Entry>& entries, const std::string& comment, const std::string& prefix) {
  Layout out;
  std::string& z = out.bytes;
  z = prefix;
  const size_t base = prefix.size();
  std::string central;
  for (const Entry& e : entries) {
    const uint32_t crc = crc_of(e.data);
    std::string payload = e.method == 8 ? deflate_raw(e.data) : e.data;
    uint16_t flags = 0;
    if (e.descriptor) flags |= 0x08;
    if (e.password != nullptr) {
      flags |= 0x01;
      uint32_t keys[3];
      quillon::setup_keys(keys, e.password);
      std::string header(12, '\0');
      for (int i = 0; i < 11; ++i) header[i] = static_cast<char>(i * 37 + 11);
      header[11] = static_cast<char>(e.descriptor ? (e.dos_datetime >> 8) & 0xFF : crc >> 24);
      std::string sealed = header + payload;
      for (char& c : sealed) c = quillon::zencode(keys, c);
      payload = sealed;
    }
    const uint32_t local_at = static_cast<uint32_t>(z.size() - base);
    out.local_offsets.push_back(local_at);
    add32(z, 0x04034B50);
    add16(z, 20);
    add16(z, flags);
    add16(z, e.method);
    add32(z, e.dos_datetime);
    add32(z, e.descriptor ? 0 : crc);
    add32(z, e.descriptor ? 0 : static_cast<uint32_t>(payload.size()));
    add32(z, e.descriptor ? 0 : static_cast<uint32_t>(e.data.size()));
    add16(z, static_cast<uint32_t>(e.name.size()));
    add16(z, static_cast<uint32_t>(e.local_extra.size()));
    z += e.name;
    z += e.local_extra;
    z += payload;
    if (e.descriptor) {
      add32(z, 0x08074B50);
      add32(z, crc);
      add32(z, static_cast<uint32_t>(payload.size()));
      add32(z, static_cast<uint32_t>(e.data.size()));
    }
    std::string c;
    add32(c, 0x02014B50);
    add16(c, e.version_made_by);
    add16(c, 20);
    add16(c, flags);
    add16(c, e.method);
    add32(c, e.dos_datetime);
    add32(c, crc);
    add32(c, static_cast<uint32_t>(payload.size()));
    add32(c, static_cast<uint32_t>(e.data.size()));
    add16(c, static_cast<uint32_t>(e.name.size()));
    add16(c, static_cast<uint32_t>(e.central_extra.size()));
    add16(c, static_cast<uint32_t>(e.comment.size()));
    add16(c, 0);
    add16(c, 0);
    add32(c, e.external);
    add32(c, local_at);
    c += e.name;
    c += e.central_extra;
    c += e.comment;
    central += c;
  }
  const uint32_t dir_at = static_cast<uint32_t>(z.size() - base);
  uint32_t at = dir_at;
  for (const Entry& e : entries) {
    out.central_offsets.push_back(static_cast<uint32_t>(base + at));
    at += static_cast<uint32_t>(46 + e.name.size() + e.central_extra.size() + e.comment.size());
  }
  z += central;
  for (uint32_t& o : out.local_offsets) o += static_cast<uint32_t>(base);
  out.end_offset = static_cast<uint32_t>(z.size());
  add32(z, 0x06054B50);
  add16(z, 0);
  add16(z, 0);
  add16(z, static_cast<uint32_t>(entries.size()));
  add16(z, static_cast<uint32_t>(entries.size()));
  add32(z, static_cast<uint32_t>(central.size()));
  add32(z, dir_at);
  add16(z, static_cast<uint32_t>(comment.size()));
  z += comment;
  return out;
}

}  // namespace ziptest
