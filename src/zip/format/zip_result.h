// Result codes of the archive APIs, their messages, the handle record, and
// the last result of each side.
#pragma once
#include <cstdint>

namespace quillon {

// Every archive operation reports one of these; 0 is success. Codes are
// compared whole, never masked.
typedef uint32_t ZIPRESULT;

constexpr ZIPRESULT ZIPR_OK = 0x00000000;
constexpr ZIPRESULT ZIPR_RECENT = 0x00000001;  // formatters only: the side's last result
// Plain failures.
constexpr ZIPRESULT ZIPR_NODUPHANDLE = 0x00000100;
constexpr ZIPRESULT ZIPR_OPENFAILED = 0x00000200;
constexpr ZIPRESULT ZIPR_NOMEMORY = 0x00000300;
constexpr ZIPRESULT ZIPR_WRITEFAILED = 0x00000400;
constexpr ZIPRESULT ZIPR_NOTFOUND = 0x00000500;
constexpr ZIPRESULT ZIPR_MOREDATA = 0x00000600;
constexpr ZIPRESULT ZIPR_CORRUPT = 0x00000700;
constexpr ZIPRESULT ZIPR_READFAILED = 0x00000800;
constexpr ZIPRESULT ZIPR_PASSWORD = 0x00001000;
// Caller errors.
constexpr ZIPRESULT ZIPR_BADARGS = 0x00010000;
constexpr ZIPRESULT ZIPR_NOTMEMORYZIP = 0x00020000;
constexpr ZIPRESULT ZIPR_MEMORYFULL = 0x00030000;
constexpr ZIPRESULT ZIPR_PREVIOUSERROR = 0x00040000;
constexpr ZIPRESULT ZIPR_ENDED = 0x00050000;
constexpr ZIPRESULT ZIPR_WRONGSIZE = 0x00060000;
constexpr ZIPRESULT ZIPR_PARTIALUNZIP = 0x00070000;
constexpr ZIPRESULT ZIPR_MIXEDMODE = 0x00080000;
// Internal errors.
constexpr ZIPRESULT ZIPR_NOTINITIALISED = 0x01000000;
constexpr ZIPRESULT ZIPR_UNSEEKABLE = 0x02000000;
constexpr ZIPRESULT ZIPR_NOCHANGE = 0x04000000;
constexpr ZIPRESULT ZIPR_FLATEERROR = 0x05000000;

// Where an archive or an item comes from, or where an archive goes.
constexpr uint32_t ZIPSRC_HANDLE = 1;    // an open OS file handle
constexpr uint32_t ZIPSRC_FILENAME = 2;  // a file name
constexpr uint32_t ZIPSRC_MEMORY = 3;    // a memory block and its length
constexpr uint32_t ZIPSRC_FOLDER = 4;    // a folder entry (items only)

// The last result of the reading side and of the writing side. Every API
// operation stores its result in its side's variable just before returning.
extern ZIPRESULT lasterrorU;
extern ZIPRESULT lasterrorZ;

// Writes the message of `code` into buf (capacity len, terminator included),
// cut if need be, and returns the message's full length. ZIPR_RECENT stands
// for the side's last result. The writing side does not know ZIPR_PASSWORD.
unsigned FormatZipMessageU(ZIPRESULT code, char* buf, unsigned len);
unsigned FormatZipMessageZ(ZIPRESULT code, char* buf, unsigned len);

// The opaque handle of the archive APIs: a record that owns its archive
// object, an ArchiveReader (kind 1) or a ArchiveWriter (kind 2), until it is closed.
struct ZipHandleRecord {
  uint32_t kind;
  void* object;
};
typedef ZipHandleRecord* HZIP;

constexpr uint32_t kReadingHandle = 1;
constexpr uint32_t kWritingHandle = 2;

bool IsZipHandleU(HZIP h);
bool IsZipHandleZ(HZIP h);

// Closing a handle (CloseZipU, CloseZipZ) belongs to the front end over both
// sides: zip/common/close_handle.h.

}  // namespace quillon
