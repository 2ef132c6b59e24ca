// Zero-filled memory blocks backed by the system's paging file.
#pragma once
#include <cstdint>

namespace qp {

struct MappedBlock {
  void* mapping = nullptr;  // the system object behind the view (may be null on some systems)
  void* view = nullptr;
  uint32_t size = 0;
};

// Makes a zero-filled, readable and writable block of `size` bytes.
bool map_zeroed(uint32_t size, MappedBlock* block);

// Releases a block made by map_zeroed; the view is invalid afterwards.
void unmap_zeroed(MappedBlock* block);

}  // namespace qp
