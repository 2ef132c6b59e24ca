// platform/memory.h on POSIX systems: zeroed blocks as anonymous mappings.
#include "platform/memory.h"

#include <sys/mman.h>

namespace qp {

bool map_zeroed(uint32_t size, MappedBlock* block) {
  if (size == 0) return false;
  void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (view == MAP_FAILED) return false;
  block->mapping = nullptr;
  block->view = view;
  block->size = size;
  return true;
}

void unmap_zeroed(MappedBlock* block) {
  if (block->view) munmap(block->view, block->size);
  *block = MappedBlock{};
}

}  // namespace qp
