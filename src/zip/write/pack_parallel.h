// Adding many files to one archive with worker threads compressing ahead of
// the calling thread, which writes every item itself, in order.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "zip/format/zip_result.h"

namespace quillon {

// Compressed output that may wait in memory for its turn, all items
// together. A file whose data could exceed it is compressed by the calling
// thread when its turn comes.
constexpr uint64_t kInFlightBudget = 64ull << 20;

// Shows one name as the ZIP export prints it.
using ZipNamePrinter = void (*)(const char* name);

// Prints each name (with `print`) and adds it with ZipAddUtf8(h, name, name)
// (names and file names in UTF-8), in the order given, as a loop over the
// names would; the archive comes out byte for byte the same. Up to `threads`
// workers open, read and compress the regular files among them beforehand
// into memory, at most `budget` bytes at a time; the calling thread does
// every print, every write to the archive and every result. All workers
// have ended when it returns. Gives each name's add result, in the order
// given.
std::vector<ZIPRESULT> zip_add_files_parallel(HZIP h, const std::vector<std::string>& names, unsigned threads,
                                              ZipNamePrinter print, uint64_t budget = kInFlightBudget);

}  // namespace quillon
