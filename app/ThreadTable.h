// The threads of a trace by id: an open-addressing hash table of their
// span records, with a small cache of the recently used ones in front.
//
// A thread costs its record in the slabs and 16 to 32 bytes of table
// (8 to 16 on 32-bit targets), so captures of a million short-lived
// threads stay small.
#ifndef ORVEL_APP_THREADTABLE_H
#define ORVEL_APP_THREADTABLE_H

#include <cstddef>
#include <cstdint>

#include "app/Slabs.h"
#include "app/ThreadSpans.h"

namespace orvel {

class ThreadTable {
 public:
  // The record of tid, or null when the thread has none.
  ThreadSpans* find(uint32_t tid) {
    const Recent& recent = cache[tid % kRecent];
    if (recent.spans != nullptr && recent.tid == tid) {
      return recent.spans;
    }
    return lookUp(tid, nullptr);
  }

  // The record of tid, made in slabs when missing; slabs must outlive it.
  ThreadSpans* findOrAdd(uint32_t tid, Slabs& slabs) {
    const Recent& recent = cache[tid % kRecent];
    if (recent.spans != nullptr && recent.tid == tid) {
      return recent.spans;
    }
    return lookUp(tid, &slabs);
  }

  // Every record, in ascending order of thread id: *count of them, valid
  // until clear(). The table serves no lookup from then on until clear().
  ThreadSpans* const* sort(size_t* count);

  void clear();

 private:
  struct Recent {
    uint32_t tid;
    ThreadSpans* spans;  // null: the place is free
  };

  // The table's part of find and findOrAdd; adds a record when slabs is
  // not null.
  ThreadSpans* lookUp(uint32_t tid, Slabs* slabs);
  void grow();
  ThreadSpans** slots() const { return static_cast<ThreadSpans**>(table.data()); }

  static const uint32_t kRecent = 64;
  // Tables with more threads are sorted by radix.
  static const size_t kRadixFrom = 4096;

  Recent cache[kRecent] = {};  // by the low bits of the thread id
  // Records by the hash of their id, not owned (slabs); null: the slot is
  // free. A power of two of slots, at most half of them used.
  ZeroedBlock table;
  size_t capacity = 0;
  size_t used = 0;
};

}  // namespace orvel

#endif  // ORVEL_APP_THREADTABLE_H
