// platform/memory.h on Windows: zeroed blocks as page-file mappings.
#include "platform/memory.h"

#include <windows.h>

namespace qp {

bool map_zeroed(uint32_t size, MappedBlock* block) {
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, nullptr);
  if (mapping == nullptr) return false;
  void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
  if (view == nullptr) {
    CloseHandle(mapping);
    return false;
  }
  block->mapping = mapping;
  block->view = view;
  block->size = size;
  return true;
}

void unmap_zeroed(MappedBlock* block) {
  if (block->view) UnmapViewOfFile(block->view);
  if (block->mapping) CloseHandle(static_cast<HANDLE>(block->mapping));
  *block = MappedBlock{};
}

}  // namespace qp
