#include "app/Slabs.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <utility>

#include "app/OutOfMemory.h"

namespace orvel {

namespace {

const size_t kMapFrom = 1024 * 1024;

}  // namespace

void* Slabs::take(size_t bytes) {
  if (slabs.empty() || used + bytes > kSlabBytes) {
    void* slab = std::aligned_alloc(kSlabBytes, kSlabBytes);
    if (slab == nullptr) {
      outOfMemory();
    }
    madvise(slab, kSlabBytes, MADV_HUGEPAGE);  // a hint; refused where unsupported
    slabs.push_back(slab);
    used = 0;
  }
  void* piece = static_cast<char*>(slabs.back()) + used;
  used += (bytes + 7) & ~size_t(7);
  return piece;
}

void Slabs::release() {
  for (void* slab : slabs) {
    std::free(slab);
  }
  slabs.clear();
  used = 0;
}

ZeroedBlock::ZeroedBlock(size_t bytes) : bytes(bytes) {
  if (bytes < kMapFrom) {
    memory = std::calloc(bytes == 0 ? 1 : bytes, 1);
    if (memory == nullptr) {
      outOfMemory();
    }
    return;
  }
  // Mapped memory is zero already. One huge page more than asked for, so
  // that an aligned start can be cut out of it.
  const size_t align = Slabs::kSlabBytes;
  const size_t rounded = (bytes + align - 1) / align * align;
  void* mapped =
      mmap(nullptr, rounded + align, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) {
    outOfMemory();
  }
  char* start = static_cast<char*>(mapped);
  const size_t head = (align - reinterpret_cast<uintptr_t>(start) % align) % align;
  if (head > 0) {
    munmap(start, head);
  }
  munmap(start + head + rounded, align - head);
  memory = start + head;
  mappedBytes = rounded;
  madvise(memory, rounded, MADV_HUGEPAGE);  // a hint; refused where unsupported
}

ZeroedBlock::ZeroedBlock(ZeroedBlock&& other) noexcept {
  *this = std::move(other);
}

ZeroedBlock& ZeroedBlock::operator=(ZeroedBlock&& other) noexcept {
  if (this != &other) {
    free();
    memory = std::exchange(other.memory, nullptr);
    bytes = std::exchange(other.bytes, 0);
    mappedBytes = std::exchange(other.mappedBytes, 0);
  }
  return *this;
}

ZeroedBlock::~ZeroedBlock() {
  free();
}

void ZeroedBlock::free() {
  if (mappedBytes > 0) {
    munmap(memory, mappedBytes);
  } else {
    std::free(memory);
  }
  memory = nullptr;
  bytes = 0;
  mappedBytes = 0;
}

}  // namespace orvel
