#include "support/zip_builder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <stdexcept>

#include "support/testkit.h"
#include "zip/format/cipher.h"
#include "zip/api/close_handle.h"
#include "zip/format/crc32.h"
#include "zip/write/writer.h"

namespace ziptest {

using testkit::deflate_raw;
using testkit::get16;
using testkit::get32;
using testkit::put32;

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

uint32_t crc_of(const std::string& data) {
  return quillon::crc32(0, reinterpret_cast<const unsigned char*>(data.data()), data.size());
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
    std::string payload = !e.deflated.empty() ? e.deflated : e.method == 8 ? deflate_raw(e.data) : e.data;
    uint16_t flags = 0;
    if (e.descriptor) flags |= 0x08;
    flags |= e.more_flags;
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

// The sample from the library's writer.

namespace {

std::string text(size_t n, uint32_t seed) {
  static const char* const words[] = {"quill ", "ink ", "paper\n", "zip ", "archive ", "0123 "};
  std::string s;
  uint32_t x = seed;
  while (s.size() < n) {
    x = x * 1103515245u + 12345u;
    s += words[(x >> 16) % 6];
  }
  s.resize(n);
  return s;
}

// A memory archive from the writer; `password` enciphers its file items.
std::string write_archive(const std::vector<SampleEntry>& entries, const char* password) {
  std::vector<char> block(1 << 20);
  quillon::HZIP hz = quillon::CreateZip(block.data(), static_cast<uint32_t>(block.size()), password);
  if (hz == nullptr) throw std::runtime_error("CreateZip");
  for (const SampleEntry& e : entries) {
    const quillon::ZIPRESULT r =
        e.folder ? quillon::ZipAddFolder(hz, e.name.c_str())
                 : quillon::ZipAdd(hz, e.name.c_str(), e.data.data(), static_cast<uint32_t>(e.data.size()));
    if (r != quillon::ZIPR_OK) throw std::runtime_error("ZipAdd " + e.name);
  }
  void* p = nullptr;
  uint32_t n = 0;
  if (quillon::ZipGetMemory(hz, &p, &n) != quillon::ZIPR_OK) throw std::runtime_error("ZipGetMemory");
  std::string bytes(static_cast<const char*>(p), n);
  quillon::CloseZipZ(hz);
  return bytes;
}

struct Parts {
  std::string local, central;
  uint32_t count;
};

Parts split(const std::string& z) {
  const size_t end = z.size() - 22;
  const uint32_t count = get16(z, end + 10), size = get32(z, end + 12), offset = get32(z, end + 16);
  return Parts{z.substr(0, offset), z.substr(offset, size), count};
}

}  // namespace

Sample make_sample(size_t scale) {
  Sample s;
  // The writer enciphers every file item of an archive that has a password,
  // so the encrypted entry comes from an archive of its own and the two
  // archives are joined: the second one's local offsets move up.
  const std::vector<SampleEntry> plain = {{"stored.zip", text(60 * scale, 1), false},
                                          {"deflated.txt", text(400 * scale, 2), false},
                                          {"folder/", "", true}};
  const std::vector<SampleEntry> locked = {{"secret.txt", text(150 * scale, 3), false}};
  const Parts a = split(write_archive(plain, nullptr));
  const Parts b = split(write_archive(locked, kPassword));
  std::string central_b = b.central;
  for (size_t at = 0; at < central_b.size();) {
    put32(central_b, at + 42, get32(central_b, at + 42) + static_cast<uint32_t>(a.local.size()));
    at += 46 + get16(central_b, at + 28) + get16(central_b, at + 30) + get16(central_b, at + 32);
  }
  const std::string local = a.local + b.local, central = a.central + central_b;
  s.bytes = local + central + end_record(a.count + b.count, central.size(), local.size());
  s.directory_offset = local.size();
  s.entries = plain;
  s.entries.push_back(locked[0]);

  for (size_t at = s.directory_offset; at < s.directory_offset + central.size();) {
    const size_t len = 46 + get16(s.bytes, at + 28) + get16(s.bytes, at + 30) + get16(s.bytes, at + 32);
    const size_t local_at = get32(s.bytes, at + 42);
    s.headers.emplace_back(local_at, local_at + 30 + get16(s.bytes, local_at + 26) + get16(s.bytes, local_at + 28));
    s.headers.emplace_back(at, at + len);
    at += len;
  }
  s.headers.emplace_back(s.bytes.size() - 22, s.bytes.size());
  return s;
}

std::string cut_inside_data(const Sample& s, size_t keep) {
  std::string z = s.bytes.substr(0, keep) + s.bytes.substr(s.directory_offset);
  put32(z, z.size() - 22 + 16, static_cast<uint32_t>(keep));
  return z;
}

std::string finish_memory(quillon::HZIP hz) {
  void* p = nullptr;
  uint32_t n = 0;
  EXPECT_EQ(quillon::ZipGetMemory(hz, &p, &n), quillon::ZIPR_OK);
  std::string bytes = p ? std::string(static_cast<char*>(p), n) : std::string();
  quillon::CloseZipZ(hz);
  return bytes;
}

}  // namespace ziptest
