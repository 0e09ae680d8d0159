// Memory for records that live until the report is written, handed out
// from slabs of 2 MiB aligned to their size, so that the kernel may back
// each slab with one huge page. Page faults on fresh memory are expensive
// on the virtual machines this runs on: a huge page takes one fault where
// small pages take 512.
#ifndef ORVEL_APP_SLABS_H
#define ORVEL_APP_SLABS_H

#include <cstddef>
#include <vector>

namespace orvel {

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

}  // namespace orvel

#endif  // ORVEL_APP_SLABS_H
