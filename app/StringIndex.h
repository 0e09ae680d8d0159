// A hash index from strings to numbers, for the few thousand distinct names
// and code locations of a trace that are looked up once per event.
//
// Open addressing with linear probing over a power-of-two table: a lookup
// is one hash of the key's bytes and usually one comparison, with no
// division and no allocation.
#ifndef ORVEL_APP_STRINGINDEX_H
#define ORVEL_APP_STRINGINDEX_H

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace orvel {

class StringIndex {
 public:
  static constexpr uint32_t kMissing = UINT32_MAX;

  // The number stored with key, or kMissing.
  uint32_t find(std::string_view key) const;

  // Stores value with a key that is not in the index yet. The index keeps
  // only a view: the key's characters must stay where they are until
  // clear() or the index's end.
  void insert(std::string_view key, uint32_t value);

  void clear();

 private:
  struct Slot {
    uint64_t hash;
    const char* key;  // not owned; null: the slot is free
    size_t length;
    uint32_t value;
  };

  static uint64_t hashOf(std::string_view key);
  // The slot holding key, or the free slot where it would go.
  size_t slotFor(std::string_view key, uint64_t hash) const;
  void grow();

  std::vector<Slot> slots;  // empty, or a power of two in size, at most half full
  size_t used = 0;
};

}  // namespace orvel

#endif  // ORVEL_APP_STRINGINDEX_H
