#include "report/Deflate.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace orvel {
namespace {

constexpr uint32_t kWindow = 32768;
constexpr size_t kMinMatch = 3;
constexpr size_t kMaxMatch = 258;
constexpr size_t kHashBytes = 4;
// Hashes of up to 17 bits: fewer put distinct strings in one chain, whose
// walk is most of the time spent; more than the input has positions would
// only be tables to clear.
constexpr unsigned kLeastHashBits = 10;
constexpr unsigned kMostHashBits = 17;
// The search's bounds, those of zlib's level 6: a match of kGoodLength already makes
// the search for a longer one at the next byte a quarter as long, one of
// kMaxLazy is taken without looking at the next byte, and one of
// kNiceLength ends the search.
constexpr unsigned kMaxChain = 128;
constexpr size_t kGoodLength = 8;
constexpr size_t kMaxLazy = 16;
constexpr size_t kNiceLength = 128;
// A match of 3 bytes this far back costs more bits than its literals.
constexpr uint32_t kTooFar = 4096;
// Symbols a block holds; each block has codes of its own, so a smaller one
// follows a change in the data sooner and pays for its code tables more
// often. A block of literals alone is stored whole: a stored block holds
// 65535 bytes at most.
constexpr size_t kBlockSymbols = 65535;

constexpr unsigned kLiteralCodes = 286;  // literals, end of block, lengths
constexpr unsigned kDistanceCodes = 30;
constexpr unsigned kLengthCodes = 19;  // that code the code lengths
constexpr unsigned kEndOfBlock = 256;
constexpr unsigned kMaxBits = 15;
constexpr unsigned kMaxLengthBits = 7;
constexpr uint8_t kLengthOrder[kLengthCodes] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                11, 4,  12, 3, 13, 2, 14, 1, 15};

unsigned floorLog2(uint32_t value) {
  return 31 - static_cast<unsigned>(__builtin_clz(value));
}

// Match lengths 3..258 as the index of their code past 256 (0..28).
unsigned lengthCode(unsigned length) {
  const unsigned above = length - 3;
  if (above < 8) {
    return above;
  }
  if (length == kMaxMatch) {
    return 28;
  }
  const unsigned log = floorLog2(above);
  return 4 * (log - 1) + ((above >> (log - 2)) & 3);
}
unsigned lengthExtraBits(unsigned code) {
  return code < 8 || code == 28 ? 0 : (code - 4) / 4;
}
unsigned lengthBase(unsigned code) {
  return code < 8 ? code + 3 : code == 28 ? 258 : ((4 + (code & 3)) << lengthExtraBits(code)) + 3;
}

// Distances 1..32768 as their code (0..29).
unsigned distanceCode(unsigned distance) {
  const unsigned above = distance - 1;
  if (above < 4) {
    return above;
  }
  const unsigned log = floorLog2(above);
  return 2 * log + ((above >> (log - 1)) & 1);
}
unsigned distanceExtraBits(unsigned code) {
  return code < 4 ? 0 : code / 2 - 1;
}
unsigned distanceBase(unsigned code) {
  return code < 4 ? code + 1 : ((2 + (code & 1)) << distanceExtraBits(code)) + 1;
}

// Bits written from the lowest up, as the format orders them.
class BitWriter {
 public:
  explicit BitWriter(std::string* out) : out(out) {}

  // count is at most 32.
  void put(uint32_t value, unsigned count) {
    bits |= static_cast<uint64_t>(value) << filled;
    filled += count;
    if (filled >= 32) {
      const char bytes[4] = {static_cast<char>(bits), static_cast<char>(bits >> 8),
                             static_cast<char>(bits >> 16), static_cast<char>(bits >> 24)};
      out->append(bytes, 4);
      bits >>= 32;
      filled -= 32;
    }
  }
  // Pads the last byte with zero bits and writes every bit held.
  void align() {
    for (; filled > 0; filled = filled > 8 ? filled - 8 : 0) {
      out->push_back(static_cast<char>(bits));
      bits >>= 8;
    }
    bits = 0;
  }
  std::string* bytes() { return out; }

 private:
  std::string* out;
  uint64_t bits = 0;
  unsigned filled = 0;
};

// Code lengths of at most maxBits that code symbols of the given
// frequencies in the fewest bits (package-merge). Unused symbols get none;
// where fewer than two are used, two get one bit, so that every code is
// complete, which inflaters may require.
void codeLengths(const uint32_t* frequencies, unsigned count, unsigned maxBits, uint8_t* lengths) {
  std::vector<std::pair<uint32_t, uint16_t>> leaves;
  for (unsigned symbol = 0; symbol < count; ++symbol) {
    if (frequencies[symbol] > 0) {
      leaves.emplace_back(frequencies[symbol], static_cast<uint16_t>(symbol));
    }
  }
  std::fill(lengths, lengths + count, 0);
  if (leaves.size() < 2) {
    const unsigned used = leaves.empty() ? 0 : leaves[0].second;
    lengths[used] = 1;
    lengths[used == 0 ? 1 : 0] = 1;
    return;
  }
  std::sort(leaves.begin(), leaves.end());
  // Each list holds the leaves and the pairs of the list below it merged
  // by weight, from the deepest bit up; an entry is a leaf's index, or -1
  // for a pair.
  const size_t used = leaves.size();
  std::vector<std::vector<int16_t>> lists(maxBits);
  std::vector<uint32_t> weights, merged;
  for (size_t leaf = 0; leaf < used; ++leaf) {
    weights.push_back(leaves[leaf].first);
    lists[0].push_back(static_cast<int16_t>(leaf));
  }
  for (unsigned bit = 1; bit < maxBits; ++bit) {
    merged.clear();
    const size_t pairs = weights.size() / 2;
    for (size_t leaf = 0, pair = 0; leaf < used || pair < pairs;) {
      const uint32_t pairWeight = pair < pairs ? weights[2 * pair] + weights[2 * pair + 1] : 0;
      if (pair == pairs || (leaf < used && leaves[leaf].first <= pairWeight)) {
        merged.push_back(leaves[leaf].first);
        lists[bit].push_back(static_cast<int16_t>(leaf++));
      } else {
        merged.push_back(pairWeight);
        lists[bit].push_back(-1);
        ++pair;
      }
    }
    weights.swap(merged);
  }
  // The cheapest 2 n - 2 entries of the top list make the code; a leaf's
  // length is the number of times it is taken, going down through the
  // pairs taken.
  size_t taken = 2 * used - 2;
  for (unsigned bit = maxBits; bit-- > 0;) {
    size_t pairs = 0;
    for (size_t entry = 0; entry < taken; ++entry) {
      const int16_t leaf = lists[bit][entry];
      if (leaf < 0) {
        ++pairs;
      } else {
        ++lengths[leaves[static_cast<size_t>(leaf)].second];
      }
    }
    taken = 2 * pairs;
  }
}

// The canonical codes of the lengths, their bits reversed for BitWriter.
void canonicalCodes(const uint8_t* lengths, unsigned count, uint16_t* codes) {
  unsigned perLength[kMaxBits + 1] = {};
  for (unsigned symbol = 0; symbol < count; ++symbol) {
    ++perLength[lengths[symbol]];
  }
  perLength[0] = 0;
  unsigned next[kMaxBits + 1] = {};
  for (unsigned bits = 1, code = 0; bits <= kMaxBits; ++bits) {
    code = (code + perLength[bits - 1]) << 1;
    next[bits] = code;
  }
  for (unsigned symbol = 0; symbol < count; ++symbol) {
    const unsigned length = lengths[symbol];
    unsigned code = length > 0 ? next[length]++ : 0, reversed = 0;
    for (unsigned bit = 0; bit < length; ++bit, code >>= 1) {
      reversed = (reversed << 1) | (code & 1);
    }
    codes[symbol] = static_cast<uint16_t>(reversed);
  }
}

struct Code {
  uint8_t lengths[kLiteralCodes + 2];
  uint16_t codes[kLiteralCodes + 2];
  uint8_t distanceLengths[kDistanceCodes];
  uint16_t distanceCodes[kDistanceCodes];
};

// What a block holds: a literal (distance 0) or a match.
struct Symbol {
  uint16_t value;  // the literal, or the match length less 3
  uint16_t distance;
};

class Deflater {
 public:
  Deflater(const uint8_t* data, size_t size, std::string* out)
      : data(data),
        size(size),
        writer(out),
        hashBits(hashBitsFor(size)),
        head(size_t{1} << hashBits),
        previous(std::min<size_t>(std::max<size_t>(size, 1), kWindow)),
        symbols(std::min(kBlockSymbols, size + 1)) {
    startBlock();
  }

  void run();

 private:
  static unsigned hashBitsFor(size_t size) {
    unsigned bits = kLeastHashBits;
    while (bits < kMostHashBits && (size_t{1} << bits) < size) {
      ++bits;
    }
    return bits;
  }
  // Enters the 4 bytes at position in their chain; returns the last
  // position entered there before.
  uint32_t insert(size_t position) {
    const uint32_t key = static_cast<uint32_t>(data[position]) << 24 |
                         static_cast<uint32_t>(data[position + 1]) << 16 |
                         static_cast<uint32_t>(data[position + 2]) << 8 | data[position + 3];
    uint32_t& last = head[(key * 2654435761u) >> (32 - hashBits)];
    const uint32_t before = last;
    last = static_cast<uint32_t>(position);
    previous[position & (kWindow - 1)] = before;
    return before;
  }
  size_t longestMatch(size_t position, uint32_t candidate, size_t best, uint32_t* distance) const;
  size_t matchLength(const uint8_t* a, const uint8_t* b, size_t most) const;

  void literal(uint8_t byte) {
    symbols[count++] = {byte, 0};
    ++literalCounts[byte];
  }
  void match(size_t length, uint32_t distance) {
    symbols[count++] = {static_cast<uint16_t>(length - kMinMatch), static_cast<uint16_t>(distance)};
    ++literalCounts[257 + lengthCode(static_cast<unsigned>(length))];
    ++distanceCounts[distanceCode(distance)];
  }
  // Ends the block at end once it is full.
  void blockFull(size_t end) {
    if (count == kBlockSymbols) {
      endBlock(end, false);
    }
  }
  void startBlock();
  void endBlock(size_t end, bool last);
  void writeSymbols(const Code& code);
  void writeStored(size_t end, bool last);

  const uint8_t* data;
  const size_t size;
  BitWriter writer;
  const unsigned hashBits;
  // Positions are kept in 32 bits, as the distances back from the
  // position at hand that they give; a stale or wrapped one is told by
  // its distance, and any candidate is checked byte by byte.
  std::vector<uint32_t> head;  // the last position entered of each hash
  // For each position in the window, the one entered before it in its chain.
  std::vector<uint32_t> previous;
  std::vector<Symbol> symbols;  // those of the block so far
  size_t count = 0;
  size_t blockStart = 0;
  uint32_t literalCounts[kLiteralCodes];
  uint32_t distanceCounts[kDistanceCodes];
};

size_t Deflater::matchLength(const uint8_t* a, const uint8_t* b, size_t most) const {
  size_t length = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  for (; length + 8 <= most; length += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + length, 8);
    std::memcpy(&y, b + length, 8);
    if (x != y) {
      return length + static_cast<size_t>(__builtin_ctzll(x ^ y)) / 8;
    }
  }
#endif
  while (length < most && a[length] == b[length]) {
    ++length;
  }
  return length;
}

// The longest match for position that is longer than best, along the chain
// from candidate; best when there is none.
size_t Deflater::longestMatch(size_t position, uint32_t candidate, size_t best,
                              uint32_t* distance) const {
  const size_t most = std::min(kMaxMatch, size - position);
  if (best >= most) {
    return best;
  }
  const size_t nice = std::min(kNiceLength, most);
  const uint8_t* here = data + position;
  const uint32_t at = static_cast<uint32_t>(position);
  unsigned chain = best >= kGoodLength ? kMaxChain / 4 : kMaxChain;
  for (uint32_t back = 0;;) {
    const uint32_t further = at - candidate;
    // A chain only goes back; a step that does not was left by a position
    // since overwritten in the window.
    if (further <= back || further > kWindow || further > position) {
      break;
    }
    back = further;
    const uint8_t* there = here - further;
    if (there[best] == here[best] && there[0] == here[0] && there[1] == here[1]) {
      const size_t length = matchLength(there, here, most);
      if (length > best) {
        best = length;
        *distance = further;
        if (length >= nice) {
          break;
        }
      }
    }
    if (--chain == 0) {
      break;
    }
    candidate = previous[(position - further) & (kWindow - 1)];
  }
  return best;
}

// A match found at a position is taken only when the next position has
// none longer; otherwise the byte goes out as a literal and the next
// match is the one weighed.
void Deflater::run() {
  size_t position = 0;
  size_t waiting = kMinMatch - 1;  // the length of the match at position - 1
  uint32_t waitingDistance = 0;
  bool literalWaits = false;  // whether the byte at position - 1 is yet to go out
  while (position < size) {
    size_t length = kMinMatch - 1;
    uint32_t distance = 0;
    if (position + kHashBytes <= size) {
      const uint32_t candidate = insert(position);
      if (waiting < kMaxLazy) {
        length = longestMatch(position, candidate, waiting, &distance);
        if (length == kMinMatch && distance > kTooFar) {
          length = kMinMatch - 1;
        }
      }
    }
    if (waiting >= kMinMatch && length <= waiting) {
      match(waiting, waitingDistance);
      const size_t end = position - 1 + waiting;
      for (size_t next = position + 1; next < end && next + kHashBytes <= size; ++next) {
        insert(next);
      }
      position = end;
      literalWaits = false;
      waiting = kMinMatch - 1;
      blockFull(position);
    } else {
      if (literalWaits) {
        literal(data[position - 1]);
        blockFull(position);
      }
      literalWaits = true;
      waiting = length;
      waitingDistance = distance;
      ++position;
    }
  }
  if (literalWaits) {
    literal(data[size - 1]);
  }
  endBlock(size, true);
  writer.align();
}

void Deflater::startBlock() {
  count = 0;
  std::fill(literalCounts, literalCounts + kLiteralCodes, 0);
  std::fill(distanceCounts, distanceCounts + kDistanceCodes, 0);
  literalCounts[kEndOfBlock] = 1;
}

void Deflater::endBlock(size_t end, bool last) {
  Code dynamic, fixed;
  codeLengths(literalCounts, kLiteralCodes, kMaxBits, dynamic.lengths);
  codeLengths(distanceCounts, kDistanceCodes, kMaxBits, dynamic.distanceLengths);
  for (unsigned symbol = 0; symbol < kLiteralCodes + 2; ++symbol) {
    fixed.lengths[symbol] = symbol < 144 ? 8 : symbol < 256 ? 9 : symbol < 280 ? 7 : 8;
  }
  std::fill(fixed.distanceLengths, fixed.distanceLengths + kDistanceCodes, 5);

  // The code lengths of both codes as one sequence, runs shortened with
  // codes 16 (repeat the last 3..6 times), 17 (3..10 zeros) and 18 (11..138
  // zeros); each entry is a code and the value of its extra bits.
  unsigned literals = kLiteralCodes, distances = kDistanceCodes;
  while (literals > 257 && dynamic.lengths[literals - 1] == 0) {
    --literals;
  }
  while (distances > 1 && dynamic.distanceLengths[distances - 1] == 0) {
    --distances;
  }
  uint8_t all[kLiteralCodes + kDistanceCodes];
  std::copy(dynamic.lengths, dynamic.lengths + literals, all);
  std::copy(dynamic.distanceLengths, dynamic.distanceLengths + distances, all + literals);
  std::vector<std::pair<uint8_t, uint8_t>> runs;
  uint32_t lengthCounts[kLengthCodes] = {};
  const auto add = [&](unsigned code, unsigned extra) {
    runs.emplace_back(static_cast<uint8_t>(code), static_cast<uint8_t>(extra));
    ++lengthCounts[code];
  };
  for (unsigned at = 0, total = literals + distances; at < total;) {
    const uint8_t value = all[at];
    unsigned run = 1;
    while (at + run < total && all[at + run] == value) {
      ++run;
    }
    at += run;
    if (value == 0) {
      for (; run >= 11; run -= std::min(run, 138u)) {
        add(18, std::min(run, 138u) - 11);
      }
      if (run >= 3) {
        add(17, run - 3);
        run = 0;
      }
    } else {
      add(value, 0);
      for (--run; run >= 3; run -= std::min(run, 6u)) {
        add(16, std::min(run, 6u) - 3);
      }
    }
    for (; run > 0; --run) {
      add(value, 0);
    }
  }
  uint8_t lengthLengths[kLengthCodes];
  uint16_t lengthCodes[kLengthCodes];
  codeLengths(lengthCounts, kLengthCodes, kMaxLengthBits, lengthLengths);
  canonicalCodes(lengthLengths, kLengthCodes, lengthCodes);
  unsigned sent = kLengthCodes;
  while (sent > 4 && lengthLengths[kLengthOrder[sent - 1]] == 0) {
    --sent;
  }

  // The size of each kind of block, in bits.
  uint64_t extraBits = 0, dynamicBits = 3 + 5 + 5 + 4 + 3 * sent, fixedBits = 3;
  for (unsigned code = 0; code < kLengthCodes; ++code) {
    const unsigned extra = code == 16 ? 2 : code == 17 ? 3 : code == 18 ? 7 : 0;
    dynamicBits += uint64_t{lengthCounts[code]} * (lengthLengths[code] + extra);
  }
  for (unsigned symbol = 0; symbol < kLiteralCodes; ++symbol) {
    dynamicBits += uint64_t{literalCounts[symbol]} * dynamic.lengths[symbol];
    fixedBits += uint64_t{literalCounts[symbol]} * fixed.lengths[symbol];
    if (symbol > kEndOfBlock) {
      extraBits += uint64_t{literalCounts[symbol]} * lengthExtraBits(symbol - 257);
    }
  }
  for (unsigned code = 0; code < kDistanceCodes; ++code) {
    dynamicBits += uint64_t{distanceCounts[code]} * dynamic.distanceLengths[code];
    fixedBits += uint64_t{distanceCounts[code]} * 5;
    extraBits += uint64_t{distanceCounts[code]} * distanceExtraBits(code);
  }
  const uint64_t bytes = end - blockStart;
  const uint64_t storedBits = (bytes / 65535 + 1) * (3 + 7 + 32) + 8 * bytes;

  if (storedBits < std::min(dynamicBits, fixedBits) + extraBits) {
    writeStored(end, last);
  } else if (fixedBits <= dynamicBits) {
    writer.put(last ? 1 : 0, 1);
    writer.put(1, 2);
    canonicalCodes(fixed.lengths, kLiteralCodes + 2, fixed.codes);
    canonicalCodes(fixed.distanceLengths, kDistanceCodes, fixed.distanceCodes);
    writeSymbols(fixed);
  } else {
    writer.put(last ? 1 : 0, 1);
    writer.put(2, 2);
    writer.put(literals - 257, 5);
    writer.put(distances - 1, 5);
    writer.put(sent - 4, 4);
    for (unsigned at = 0; at < sent; ++at) {
      writer.put(lengthLengths[kLengthOrder[at]], 3);
    }
    for (const auto& run : runs) {
      writer.put(lengthCodes[run.first], lengthLengths[run.first]);
      if (run.first >= 16) {
        writer.put(run.second, run.first == 16 ? 2 : run.first == 17 ? 3 : 7);
      }
    }
    canonicalCodes(dynamic.lengths, kLiteralCodes, dynamic.codes);
    canonicalCodes(dynamic.distanceLengths, kDistanceCodes, dynamic.distanceCodes);
    writeSymbols(dynamic);
  }
  blockStart = end;
  startBlock();
}

void Deflater::writeSymbols(const Code& code) {
  for (size_t at = 0; at < count; ++at) {
    const Symbol& symbol = symbols[at];
    if (symbol.distance == 0) {
      writer.put(code.codes[symbol.value], code.lengths[symbol.value]);
      continue;
    }
    const unsigned length = symbol.value + 3u, lengthIndex = lengthCode(length);
    const unsigned lengthBits = code.lengths[257 + lengthIndex];
    writer.put(code.codes[257 + lengthIndex] | (length - lengthBase(lengthIndex)) << lengthBits,
               lengthBits + lengthExtraBits(lengthIndex));
    const unsigned distanceIndex = distanceCode(symbol.distance);
    const unsigned distanceBits = code.distanceLengths[distanceIndex];
    writer.put(code.distanceCodes[distanceIndex] | (symbol.distance - distanceBase(distanceIndex))
                                                       << distanceBits,
               distanceBits + distanceExtraBits(distanceIndex));
  }
  writer.put(code.codes[kEndOfBlock], code.lengths[kEndOfBlock]);
}

// Stored blocks hold 65535 bytes at most.
void Deflater::writeStored(size_t end, bool last) {
  size_t from = blockStart;
  do {
    const size_t bytes = std::min<size_t>(end - from, 65535);
    writer.put(last && from + bytes == end ? 1 : 0, 1);
    writer.put(0, 2);
    writer.align();
    writer.put(static_cast<uint32_t>(bytes) | static_cast<uint32_t>(~bytes & 0xffff) << 16, 32);
    writer.bytes()->append(reinterpret_cast<const char*>(data + from), bytes);
    from += bytes;
  } while (from < end);
}

}  // namespace

void appendDeflated(const uint8_t* data, size_t size, std::string* out) {
  Deflater deflater(data, size, out);
  deflater.run();
}

}  // namespace orvel
