#include "app/Slabs.h"

#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>

namespace orvel {

void* Slabs::take(size_t bytes) {
  if (slabs.empty() || used + bytes > kSlabBytes) {
    void* slab = std::aligned_alloc(kSlabBytes, kSlabBytes);
    if (slab == nullptr) {
      std::fputs("spanmill: out of memory\n", stderr);
      std::abort();
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

}  // namespace orvel
