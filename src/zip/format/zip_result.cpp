#include "zip/format/zip_result.h"

#include <cstring>

namespace quillon {

ZIPRESULT lasterrorU = ZIPR_OK;
ZIPRESULT lasterrorZ = ZIPR_OK;

namespace {

struct Message {
  ZIPRESULT code;
  const char* text;
};

// The messages are the system's own texts, spelling included.
const Message kMessages[] = {
    {ZIPR_OK, "Success"},
    {ZIPR_NODUPHANDLE, "Culdn't duplicate handle"},
    {ZIPR_OPENFAILED, "Couldn't create/open file"},
    {ZIPR_NOMEMORY, "Failed to allocate memory"},
    {ZIPR_WRITEFAILED, "Error writing to file"},
    {ZIPR_NOTFOUND, "File not found in the zipfile"},
    {ZIPR_MOREDATA, "Still more data to unzip"},
    {ZIPR_CORRUPT, "Zipfile is corrupt or not a zipfile"},
    {ZIPR_READFAILED, "Error reading file"},
    {ZIPR_PASSWORD, "Correct password required"},
    {ZIPR_BADARGS, "Caller: faulty arguments"},
    {ZIPR_NOTMEMORYZIP, "Caller: can only get memory of a memory zipfile"},
    {ZIPR_MEMORYFULL, "Caller: not enough space allocated for memory zipfile"},
    {ZIPR_PREVIOUSERROR, "Caller: there was a previous error"},
    {ZIPR_ENDED, "Caller: additions to the zip have already been ended"},
    {ZIPR_WRONGSIZE, "Zip-bug: the anticipated size turned out wrong"},
    {ZIPR_PARTIALUNZIP, "Caller: the file had already been partially unzipped"},
    {ZIPR_MIXEDMODE, "Caller: mixing creation and opening of zip"},
    {ZIPR_NOTINITIALISED, "Zip-bug: internal initialisation not completed"},
    {ZIPR_UNSEEKABLE, "Zip-bug: trying to seek the unseekable"},
    {ZIPR_NOCHANGE, "Zip-bug: tried to change mind, but not allowed"},
    {ZIPR_FLATEERROR, "Zip-bug: an internal error during flation"},
};

const char* const kUnknown = "unknown zip result code";

unsigned format_message(ZIPRESULT code, char* buf, unsigned len, bool knows_password) {
  const char* text = kUnknown;
  for (const Message& m : kMessages) {
    if (m.code == code && (knows_password || code != ZIPR_PASSWORD)) {
      text = m.text;
      break;
    }
  }
  const unsigned n = static_cast<unsigned>(std::strlen(text));
  if (buf == nullptr || len == 0) return n;
  const unsigned copied = n < len - 1 ? n : len - 1;
  std::memcpy(buf, text, copied);
  buf[copied] = '\0';
  return n;
}

}  // namespace

unsigned FormatZipMessageU(ZIPRESULT code, char* buf, unsigned len) {
  return format_message(code == ZIPR_RECENT ? lasterrorU : code, buf, len, true);
}

unsigned FormatZipMessageZ(ZIPRESULT code, char* buf, unsigned len) {
  return format_message(code == ZIPR_RECENT ? lasterrorZ : code, buf, len, false);
}

bool IsZipHandleU(HZIP h) { return h != nullptr && h->kind == kReadingHandle; }

bool IsZipHandleZ(HZIP h) { return h != nullptr && h->kind == kWritingHandle; }

}  // namespace quillon
