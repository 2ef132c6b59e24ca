// Memory running out inside the archive API. The program replaces operator
// new so that the k-th allocation of a call can fail; every such failure must
// come out of the call as std::bad_alloc (the exports' guard turns it into a
// failure result) or as a failure code, and leave nothing allocated behind.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "support/testkit.h"
#include "support/zip_builder.h"
#include "zip/api/close_handle.h"
#include "zip/read/reader.h"
#include "zip/write/writer.h"

namespace {

// The blocks a counted call has allocated and not yet freed. A fixed table,
// so that keeping it allocates nothing.
constexpr int kTableSize = 4096;
void* live[kTableSize];
int live_count = 0;
bool counting = false;
long allocations = 0;
long fail_at = -1;

void start_counting(long fail_at_allocation) {
  live_count = 0;
  allocations = 0;
  fail_at = fail_at_allocation;
  counting = true;
}

void stop_counting() { counting = false; }

void* allocate(std::size_t n) {
  if (counting && allocations++ == fail_at) throw std::bad_alloc();
  void* p = std::malloc(n ? n : 1);
  if (p == nullptr) throw std::bad_alloc();
  if (counting && live_count < kTableSize) live[live_count++] = p;
  return p;
}

void release(void* p) {
  if (p == nullptr) return;
  if (counting) {
    for (int i = 0; i < live_count; ++i) {
      if (live[i] == p) {
        live[i] = live[--live_count];
        break;
      }
    }
  }
  std::free(p);
}

}  // namespace

void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return allocate(n);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, const std::nothrow_t& tag) noexcept { return operator new(n, tag); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }

namespace {

using namespace quillon;

// Opening a reading handle with each of its allocations failing in turn, up
// to the first run that needs no more than it gets: the reading object and
// everything it opened go away with the failure, the handle record's
// allocation (the last one) included.
TEST(OutOfMemory, OpeningAReadingHandleLeavesNothingBehind) {
  const ziptest::Sample sample = ziptest::make_sample();
  long failures = 0;
  for (long k = 0; k < 1000; ++k) {
    HZIP h = nullptr;
    bool threw = false;
    start_counting(k);
    try {
      h = OpenZip(sample.bytes.data(), static_cast<uint32_t>(sample.bytes.size()), nullptr);
    } catch (const std::bad_alloc&) {
      threw = true;
    }
    stop_counting();
    if (h != nullptr) {
      EXPECT_FALSE(threw);
      EXPECT_EQ(CloseZipU(h), ZIPR_OK);
      break;
    }
    ++failures;
    EXPECT_EQ(live_count, 0) << "blocks left behind when allocation " << k << " failed";
  }
  EXPECT_GE(failures, 2);  // at least the object's and the record's allocations
}

// Creating a writing handle and adding an item, with each allocation failing
// in turn: the object, its compressor, the item and the handle record go
// away with the failure, or with CloseZipZ when the handle exists.
TEST(OutOfMemory, WritingAnItemLeavesNothingBehind) {
  const std::string text(4000, 'q');
  std::vector<char> block(65536);
  long failures = 0;
  for (long k = 0; k < 1000; ++k) {
    HZIP h = nullptr;
    ZIPRESULT added = ZIPR_BADARGS;
    bool threw = false;
    start_counting(k);
    try {
      h = CreateZip(block.data(), static_cast<uint32_t>(block.size()), nullptr);
      if (h != nullptr) added = ZipAdd(h, "a.txt", text.data(), static_cast<uint32_t>(text.size()));
    } catch (const std::bad_alloc&) {
      threw = true;
    }
    if (h != nullptr) CloseZipZ(h);
    stop_counting();
    EXPECT_EQ(live_count, 0) << "blocks left behind when allocation " << k << " failed";
    if (!threw) {
      ASSERT_NE(h, nullptr);
      EXPECT_EQ(added, ZIPR_OK);
      break;
    }
    ++failures;
  }
  EXPECT_GE(failures, 3);  // at least the object, its compressor and the record
}

// Extracting each file entry, to memory, to a handle and to a file by name,
// on a fresh handle with each allocation of the call failing in turn (the
// entry stream, its input buffer, the extraction buffer, names, the file's
// bookkeeping in the platform layer), up to the first run that
// needs no more than it gets. After a failure the same handle still extracts
// the entry whole, and closing it frees everything both calls allocated.
TEST(OutOfMemory, ExtractingAnEntryLeavesNothingBehind) {
  const ziptest::Sample sample = ziptest::make_sample();
  const uint32_t size = static_cast<uint32_t>(sample.bytes.size());
  testkit::ScratchDir dir;
  for (size_t i = 0; i < sample.entries.size(); ++i) {
    if (sample.entries[i].folder) continue;
    const std::string& data = sample.entries[i].data;
    const int index = static_cast<int>(i);
    enum Target { kMemory, kHandle, kName };
    for (const Target target : {kMemory, kHandle, kName}) {
      const bool to_file = target != kMemory;
      long failures = 0;
      for (long k = 0; k < 1000; ++k) {
        HZIP h = OpenZip(sample.bytes.data(), size, ziptest::kPassword);
        ASSERT_NE(h, nullptr);
        const std::string first = dir / (std::to_string(i) + "_" + std::to_string(k)), again = first + "r";
        qp::Handle files[2] = {nullptr, nullptr};
        if (target == kHandle) {
          files[0] = qp::create_exclusive(first.c_str(), 0);
          files[1] = qp::create_exclusive(again.c_str(), 0);
          ASSERT_TRUE(qp::is_valid(files[0]) && qp::is_valid(files[1]));
        }
        std::string out(data.size() + 1, '\0');
        auto extract = [&](int attempt) {
          if (target == kName) return UnzipItem(h, index, (attempt == 0 ? first : again).c_str());
          return target == kHandle ? UnzipItemHandle(h, index, files[attempt])
                                   : UnzipItem(h, index, &out[0], static_cast<uint32_t>(out.size()));
        };
        ZIPRESULT r = ZIPR_OK;
        bool threw = false;
        start_counting(k);
        try {
          r = extract(0);
        } catch (const std::bad_alloc&) {
          threw = true;
          fail_at = -1;  // still counted: closing must free what the retry allocates too
          r = extract(1);
        }
        EXPECT_EQ(CloseZipU(h), ZIPR_OK);
        stop_counting();
        EXPECT_EQ(live_count, 0) << "blocks left behind when allocation " << k << " failed";
        EXPECT_EQ(r, ZIPR_OK) << "allocation " << k << (threw ? " failed" : " not reached");
        if (target == kHandle) {
          qp::close_handle(files[0]);
          qp::close_handle(files[1]);
        }
        EXPECT_EQ(to_file ? testkit::read_file(threw ? again : first) : out.substr(0, data.size()), data);
        if (!threw) break;
        ++failures;
      }
      EXPECT_GE(failures, 1) << "entry " << i << " to target " << target;
    }
  }
}

}  // namespace
