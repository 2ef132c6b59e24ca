// The data of one item: its stored name and method, and the encoder that
// reads its source (counting the bytes and their CRC-32) and deflates or
// stores them into a sink.
//
// The archive writer encodes an item straight into its output, between the
// local header and the item's end. The workers of zip_add_files_parallel
// encode files into memory with encoders of their own, and the writer then
// writes what they made the way it writes its own items. Both go through
// the same name, method, bound and encoder, so an item's bytes are the same
// whichever thread made them.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "zip/write/item_source.h"

namespace quillon {

struct DeflateState;

// Longest item name kept, in characters (bytes, or code points of a UTF-8
// name): MAX_PATH less its terminator; a folder may get one more character,
// its trailing slash.
constexpr unsigned kZipNameMax = 259;
constexpr unsigned kZipNameBuffer = 260;

// The compressor's level for every item, and the size of the encoder's
// staging buffer: the compressor's output buffer, and the chunk in which
// stored data is read and data made in memory is written out.
constexpr int kDeflateLevel = 8;
constexpr unsigned kItemChunk = 16384;

// The stored form of an item's name and what it decides.
struct ItemName {
  std::string name;     // as stored; a folder's ends in a slash; empty when nothing is left
  uint16_t flag = 0;    // kFlagUtf8Name or 0
  uint16_t method = 0;  // stored or deflated
};

// The stored name; a folder's ends in a slash. A name that is not plain
// ASCII is flagged as UTF-8 when it is UTF-8; other bytes stay unflagged.
// Names with an archive suffix, and folders, are stored.
ItemName item_name(const std::string& given, bool is_folder);

// The most bytes the data of `size` input bytes can take with `method`: a
// stored copy is the input itself; the compressor falls back to stored
// blocks, and where a block cannot be stored its Huffman codes cost little
// more than a byte per byte. An item whose bound passes the classic fields
// gets Zip64 sizes from its first local header on; a worker reserves this
// much memory for the item.
uint64_t item_data_bound(uint64_t size, uint16_t method);

// True for names whose suffix marks data that is compressed already.
bool HasZipSuffix(const char* name);
// Compares two texts ignoring case: -1, 0 or 1.
int lustricmp(const char* a, const char* b);

// Takes up to n bytes of an item's data and returns the count it took;
// anything short of n fails the item.
using ItemSink = unsigned (*)(void* context, const char* bytes, unsigned n);

// What encoding an item gave.
struct ItemData {
  bool ok = true;            // the compressor held every check and the sink took every byte
  uint16_t flag_bits = 0;    // what the compressor marks in the general-purpose flags
  uint64_t size = 0;         // bytes the sink took
  uint32_t crc = 0;          // of the bytes read
  uint64_t read = 0;         // bytes read
  bool read_failed = false;  // a read reported an error
  bool came_short = false;   // a source whose size was known before reading ended before it
};

// One thread's encoder: its source, its compressor and its buffer, reused
// from item to item.
class ItemEncoder {
 public:
  ItemEncoder();
  ~ItemEncoder();
  ItemEncoder(const ItemEncoder&) = delete;
  ItemEncoder& operator=(const ItemEncoder&) = delete;

  // The source of the next item; one of its open functions starts it.
  ItemSource& source() { return in_; }
  // Deflates or stores (by `method`) everything the open source gives into
  // the sink, then closes the source. A source with nothing to read (a
  // folder) gives no data at all.
  ItemData encode(uint16_t method, ItemSink sink, void* context);

 private:
  static unsigned read_input(DeflateState& state, char* bytes, unsigned n);
  static unsigned flush_output(void* context, const char* bytes, unsigned* n);
  bool deflate_data(uint16_t* flag_bits);
  bool store_data();

  ItemSource in_;
  std::unique_ptr<DeflateState> deflater_;  // made at the first deflated item
  ItemSink sink_ = nullptr;
  void* sink_context_ = nullptr;
  uint64_t taken_ = 0;                // bytes the sink took of this item
  std::array<char, kItemChunk> buf_;
};

}  // namespace quillon
