#include "app/ThreadTable.h"

#include <algorithm>
#include <new>

namespace orvel {

namespace {

// The kernel hands out thread ids one after another below 2^22: taken as
// they are, the ids of a capture fill neighbouring slots, so that a new
// thread's slot is usually in the cache already. Higher bits, which no
// kernel gives, are spread over the low ones.
size_t slotOf(uint32_t tid, size_t mask) {
  return static_cast<size_t>(tid ^ ((tid >> 22) * 0x9E3779B1u)) & mask;
}

}  // namespace

ThreadSpans* ThreadTable::lookUp(uint32_t tid, Slabs* slabs) {
  if (capacity == 0) {
    if (slabs == nullptr) {
      return nullptr;
    }
    grow();
  }
  ThreadSpans** const slot = slots();
  const size_t mask = capacity - 1;
  size_t at = slotOf(tid, mask);
  while (slot[at] != nullptr && slot[at]->id() != tid) {
    at = (at + 1) & mask;
  }
  ThreadSpans* spans = slot[at];
  if (spans == nullptr) {
    if (slabs == nullptr) {
      return nullptr;
    }
    spans = new (slabs->take(sizeof(ThreadSpans))) ThreadSpans(tid);
    slot[at] = spans;
    if (++used * 2 > capacity) {
      grow();
    }
  }
  cache[tid % kRecent] = Recent{tid, spans};
  return spans;
}

void ThreadTable::grow() {
  const size_t grown = capacity == 0 ? 64 : capacity * 2;
  ZeroedBlock old(grown * sizeof(ThreadSpans*));
  std::swap(old, table);
  ThreadSpans** const from = static_cast<ThreadSpans**>(old.data());
  ThreadSpans** const to = slots();
  const size_t mask = grown - 1;
  for (size_t i = 0; i < capacity; ++i) {
    if (from[i] != nullptr) {
      size_t at = slotOf(from[i]->id(), mask);
      while (to[at] != nullptr) {
        at = (at + 1) & mask;
      }
      to[at] = from[i];
    }
  }
  capacity = grown;
}

ThreadSpans* const* ThreadTable::sort(size_t* count) {
  ThreadSpans** const slot = slots();
  ThreadSpans** const end = std::remove(slot, slot + capacity, nullptr);
  *count = static_cast<size_t>(end - slot);
  if (*count < kRadixFrom) {
    std::sort(slot, end, [](ThreadSpans* a, ThreadSpans* b) { return a->id() < b->id(); });
    return slot;
  }
  // By the low, then the high half of the id, each pass stable, into the
  // free half of the table and back: a fixed number of passes however the
  // ids fell.
  uint32_t* counts = new uint32_t[0x10000];
  ThreadSpans** from = slot;
  ThreadSpans** to = slot + capacity / 2;
  for (int shift = 0; shift < 32; shift += 16) {
    std::fill(counts, counts + 0x10000, 0);
    for (size_t i = 0; i < *count; ++i) {
      ++counts[(from[i]->id() >> shift) & 0xFFFF];
    }
    uint32_t place = 0;
    for (size_t digit = 0; digit < 0x10000; ++digit) {
      const uint32_t size = counts[digit];
      counts[digit] = place;
      place += size;
    }
    for (size_t i = 0; i < *count; ++i) {
      to[counts[(from[i]->id() >> shift) & 0xFFFF]++] = from[i];
    }
    std::swap(from, to);
  }
  delete[] counts;
  return from;
}

void ThreadTable::clear() {
  table = ZeroedBlock();
  capacity = 0;
  used = 0;
  std::fill(std::begin(cache), std::end(cache), Recent{0, nullptr});
}

}  // namespace orvel
