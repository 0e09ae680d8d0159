#include "app/StringIndex.h"

#include <cstring>

namespace orvel {

namespace {

// The first and the last sizeof(Word) bytes of a text at least that long;
// they overlap where the text is shorter than two words. Byte order does
// not matter to the callers.
template <typename Word>
void ends(const char* text, size_t length, Word* first, Word* last) {
  std::memcpy(first, text, sizeof(Word));
  std::memcpy(last, text + length - sizeof(Word), sizeof(Word));
}

// Whether two texts of the same length are equal. Keys are mostly short:
// up to sixteen bytes they are compared by their two ends rather than
// through a library call.
bool sameBytes(const char* a, const char* b, size_t length) {
  if (length > 16) {
    return std::memcmp(a, b, length) == 0;
  }
  if (length >= 8) {
    uint64_t a1, a2, b1, b2;
    ends(a, length, &a1, &a2);
    ends(b, length, &b1, &b2);
    return ((a1 ^ b1) | (a2 ^ b2)) == 0;
  }
  if (length >= 4) {
    uint32_t a1, a2, b1, b2;
    ends(a, length, &a1, &a2);
    ends(b, length, &b1, &b2);
    return ((a1 ^ b1) | (a2 ^ b2)) == 0;
  }
  return std::memcmp(a, b, length) == 0;
}

}  // namespace

// Up to sixteen bytes with two independent multiplications; longer keys
// eight bytes a step.
inline uint64_t StringIndex::hashOf(std::string_view key) {
  const char* at = key.data();
  size_t left = key.size();
  uint64_t hash = key.size();
  for (; left > 16; at += 8, left -= 8) {
    uint64_t word;
    std::memcpy(&word, at, 8);
    hash = (hash ^ word) * 0x9E3779B97F4A7C15ULL;
    hash ^= hash >> 29;
  }
  uint64_t first = 0;
  uint64_t last = 0;
  if (left >= 8) {
    ends(at, left, &first, &last);
  } else if (left >= 4) {
    uint32_t low;
    uint32_t high;
    ends(at, left, &low, &high);
    first = low;
    last = high;
  } else if (left > 0) {
    first = static_cast<unsigned char>(at[0]) | static_cast<unsigned char>(at[left / 2]) << 8 |
            static_cast<unsigned char>(at[left - 1]) << 16;
  }
  hash ^= (first * 0x9E3779B97F4A7C15ULL) ^ (last * 0xC2B2AE3D27D4EB4FULL);
  return hash ^ (hash >> 32) ^ (hash >> 17);
}

inline size_t StringIndex::slotFor(std::string_view key, uint64_t hash) const {
  const size_t mask = slots.size() - 1;
  for (size_t at = static_cast<size_t>(hash) & mask;; at = (at + 1) & mask) {
    const Slot& slot = slots[at];
    if (slot.key == nullptr || (slot.hash == hash && slot.length == key.size() &&
                                sameBytes(slot.key, key.data(), key.size()))) {
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
