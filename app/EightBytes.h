// Eight characters at a time: loadEight() puts eight characters into one
// 64-bit word, the first in the lowest byte, and valueOfEight() converts
// eight digits with a handful of whole-word operations instead of a loop
// over the bytes. A constant written kEachByte * v holds the byte v in each
// of the eight bytes.
#ifndef ORVEL_APP_EIGHTBYTES_H
#define ORVEL_APP_EIGHTBYTES_H

#include <cstdint>
#include <cstring>

namespace orvel {

const uint64_t kEachByte = 0x0101010101010101ULL;
const uint64_t kZeroCharInEachByte = kEachByte * '0';

// The eight bytes at p as a number whose lowest byte is p[0].
inline uint64_t loadEight(const char* p) {
  uint64_t value;
  std::memcpy(&value, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  value = __builtin_bswap64(value);
#endif
  return value;
}

// The number written by eight digits d0 d1 ... d7, d0 (the most significant)
// in the lowest byte. Three steps, each joining neighbours:
// - digits to pairs: bytes * 10 + (bytes >> 8) holds 10 * d0 + d1 in byte 0,
//   10 * d2 + d3 in byte 2, and so on (each at most 99: no byte overflows;
//   the odd bytes hold pairs we ignore);
// - the pairs P0 (byte 0) and P2 (byte 4) times kFirstAndThirdPair, and the
//   pairs P1 (byte 2) and P3 (byte 6) times kSecondAndFourthPair, leave
//   P0 * 10^6 + P2 * 100 and P1 * 10^4 + P3 in the upper 32 bits of the
//   products (what lands below, P0 * 100 and P1, stays below 2^32 together);
// - their sum's upper half is P0 P1 P2 P3, the eight-digit number.
inline uint64_t valueOfEight(uint64_t bytes) {
  const uint64_t kPairsInBytes0And4 = 0x000000FF000000FFULL;
  const uint64_t kFirstAndThirdPair = (uint64_t(1000000) << 32) + 100;
  const uint64_t kSecondAndFourthPair = (uint64_t(10000) << 32) + 1;
  bytes -= kZeroCharInEachByte;
  bytes = bytes * 10 + (bytes >> 8);
  return ((bytes & kPairsInBytes0And4) * kFirstAndThirdPair +
          ((bytes >> 16) & kPairsInBytes0And4) * kSecondAndFourthPair) >>
         32;
}

}  // namespace orvel

#endif  // ORVEL_APP_EIGHTBYTES_H
