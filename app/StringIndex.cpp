#include "app/StringIndex.h"

#include <cstring>

namespace orvel {

namespace {

// Stirs the bits of a word so that every input bit reaches the low bits the
// table index is taken from.
uint64_t mix(uint64_t value) {
  value ^= value >> 31;
  value *= 0xBF58476D1CE4E5B9ULL;
  value ^= value >> 29;
  return value;
}

}  // namespace

// Eight bytes at a time. The hash only places keys in this process's table,
// so the byte order of the loads does not matter.
uint64_t StringIndex::hashOf(std::string_view key) {
  uint64_t hash = 0x9E3779B97F4A7C15ULL ^ key.size();
  const char* at = key.data();
  size_t left = key.size();
  for (; left >= 8; at += 8, left -= 8) {
    uint64_t word;
    std::memcpy(&word, at, 8);
    hash = mix(hash ^ word) * 0x94D049BB133111EBULL;
  }
  if (left >= 4) {
    // Four to seven bytes: two loads of four that may overlap.
    uint32_t first;
    uint32_t last;
    std::memcpy(&first, at, 4);
    std::memcpy(&last, at + left - 4, 4);
    hash = mix(hash ^ (static_cast<uint64_t>(first) << 32 | last)) * 0x94D049BB133111EBULL;
  } else if (left > 0) {
    uint64_t word = static_cast<unsigned char>(at[0]);
    word = word << 8 | static_cast<unsigned char>(at[left / 2]);
    word = word << 8 | static_cast<unsigned char>(at[left - 1]);
    hash = mix(hash ^ word) * 0x94D049BB133111EBULL;
  }
  return mix(hash);
}

size_t StringIndex::slotFor(std::string_view key, uint64_t hash) const {
  const size_t mask = slots.size() - 1;
  for (size_t at = static_cast<size_t>(hash) & mask;; at = (at + 1) & mask) {
    const Slot& slot = slots[at];
    if (slot.key == nullptr || (slot.hash == hash && slot.length == key.size() &&
                                std::memcmp(slot.key, key.data(), key.size()) == 0)) {
      return at;
    }
  }
}

uint32_t StringIndex::find(std::string_view key) const {
  if (slots.empty()) {
    return kMissing;
  }
  const Slot& slot = slots[slotFor(key, hashOf(key))];
  return slot.key == nullptr ? kMissing : slot.value;
}

void StringIndex::insert(std::string_view key, uint32_t value) {
  if ((used + 1) * 2 > slots.size()) {
    grow();
  }
  const uint64_t hash = hashOf(key);
  // A view of "" still needs a non-null pointer to mark its slot taken.
  slots[slotFor(key, hash)] =
      Slot{hash, key.data() != nullptr ? key.data() : "", key.size(), value};
  ++used;
}

void StringIndex::grow() {
  std::vector<Slot> old(slots.empty() ? 16 : slots.size() * 2, Slot{0, nullptr, 0, 0});
  old.swap(slots);
  const size_t mask = slots.size() - 1;
  for (const Slot& slot : old) {
    if (slot.key != nullptr) {
      size_t at = static_cast<size_t>(slot.hash) & mask;
      while (slots[at].key != nullptr) {
        at = (at + 1) & mask;
      }
      slots[at] = slot;
    }
  }
}

void StringIndex::clear() {
  slots.clear();
  used = 0;
}

}  // namespace orvel
