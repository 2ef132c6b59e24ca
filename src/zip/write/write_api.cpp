// The creation API: ArchiveWriter behind a writing handle. Every function
// records its result in lasterrorZ just before returning it.
#include <memory>

#include "zip/write/writer.h"

namespace quillon {

HZIP CreateZipInternal(void* z, uint32_t len, uint32_t kind, const char* password) {
  // The object is owned here until its handle record exists, so that
  // running out of memory on the way (std::bad_alloc, for the caller's
  // guard) leaks neither it nor its output.
  auto zip = std::make_unique<ArchiveWriter>(password);
  lasterrorZ = zip->Create(z, len, kind);
  if (lasterrorZ != ZIPR_OK) return nullptr;
  HZIP h = new ZipHandleRecord{kWritingHandle, nullptr};
  h->object = zip.release();
  return h;
}

HZIP CreateZipHandle(qp::Handle h, const char* password) {
  return CreateZipInternal(h, 0, ZIPSRC_HANDLE, password);
}

HZIP CreateZip(const char* filename, const char* password) {
  return CreateZipInternal(const_cast<char*>(filename), 0, ZIPSRC_FILENAME, password);
}

HZIP CreateZip(void* block, uint32_t len, const char* password) {
  return CreateZipInternal(block, len, ZIPSRC_MEMORY, password);
}

ZIPRESULT ZipAddInternal(HZIP hz, const char* name, const void* src, uint32_t len, uint32_t kind) {
  if (hz == nullptr) return lasterrorZ = ZIPR_BADARGS;
  if (hz->kind != kWritingHandle) return lasterrorZ = ZIPR_MIXEDMODE;
  return lasterrorZ = static_cast<ArchiveWriter*>(hz->object)->Add(name, src, len, kind);
}

ZIPRESULT ZipAdd(HZIP hz, const char* name, const char* filename) {
  return ZipAddInternal(hz, name, filename, 0, ZIPSRC_FILENAME);
}

ZIPRESULT ZipAddUtf8(HZIP hz, const char* name, const char* filename) {
  if (hz == nullptr) return lasterrorZ = ZIPR_BADARGS;
  if (hz->kind != kWritingHandle) return lasterrorZ = ZIPR_MIXEDMODE;
  return lasterrorZ = static_cast<ArchiveWriter*>(hz->object)->AddUtf8(name, filename);
}

ZIPRESULT ZipAdd(HZIP hz, const char* name, const void* block, uint32_t len) {
  return ZipAddInternal(hz, name, block, len, ZIPSRC_MEMORY);
}

ZIPRESULT ZipAddHandle(HZIP hz, const char* name, qp::Handle h) {
  return ZipAddInternal(hz, name, h, 0, ZIPSRC_HANDLE);
}

ZIPRESULT ZipAddHandle(HZIP hz, const char* name, qp::Handle h, uint32_t len) {
  return ZipAddInternal(hz, name, h, len, ZIPSRC_HANDLE);
}

ZIPRESULT ZipAddFolder(HZIP hz, const char* name) {
  return ZipAddInternal(hz, name, nullptr, 0, ZIPSRC_FOLDER);
}

ArchiveWriter* archive_writer(HZIP hz) {
  if (hz == nullptr || hz->kind != kWritingHandle) return nullptr;
  return static_cast<ArchiveWriter*>(hz->object);
}

ZIPRESULT ZipGetMemory(HZIP hz, void** pbuf, uint32_t* plen) {
  if (hz == nullptr) {
    if (pbuf) *pbuf = nullptr;
    if (plen) *plen = 0;
    return lasterrorZ = ZIPR_BADARGS;
  }
  if (hz->kind != kWritingHandle) return lasterrorZ = ZIPR_MIXEDMODE;
  return lasterrorZ = static_cast<ArchiveWriter*>(hz->object)->GetMemory(pbuf, plen);
}

}  // namespace quillon
