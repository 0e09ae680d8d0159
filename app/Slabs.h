// Memory that the kernel may back with huge pages. Page faults on fresh
// memory are expensive on the virtual machines this runs on: a huge page
// takes one fault where small pages take 512.
#ifndef ORVEL_APP_SLABS_H
#define ORVEL_APP_SLABS_H

#include <cstddef>
#include <vector>

namespace orvel {

// Memory for records that live until the report is written, handed out
// from slabs of 2 MiB aligned to their size.
class Slabs {
 public:
  static const size_t kSlabBytes = 2 * 1024 * 1024;

  Slabs() = default;
  Slabs(const Slabs&) = delete;
  Slabs& operator=(const Slabs&) = delete;
  ~Slabs() { release(); }

  // bytes (at most kSlabBytes) of uninitialised memory aligned to 8 bytes,
  // valid until release(). Out of memory ends the program, as a failed new
  // would.
  void* take(size_t bytes);

  // Frees every slab.
  void release();

 private:
  std::vector<void*> slabs;  // owned (std::free)
  size_t used = 0;           // bytes of the last slab handed out
};

// One block of zeroed memory for a table: mapped from the kernel, aligned
// to huge pages, from 1 MiB on; from the heap below that. Out of memory
// ends the program.
class ZeroedBlock {
 public:
  ZeroedBlock() = default;
  explicit ZeroedBlock(size_t bytes);
  ZeroedBlock(ZeroedBlock&& other) noexcept;
  ZeroedBlock& operator=(ZeroedBlock&& other) noexcept;
  ~ZeroedBlock();

  void* data() const { return memory; }
  size_t size() const { return bytes; }

 private:
  void free();

  void* memory = nullptr;  // owned: munmap when mapped, else std::free
  size_t bytes = 0;
  size_t mappedBytes = 0;  // 0: from the heap
};

}  // namespace orvel

#endif  // ORVEL_APP_SLABS_H
