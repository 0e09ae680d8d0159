#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "report/Deflate.h"
#include "tests/Testing.h"

namespace orvel {
namespace {

// The same bytes on every target.
uint32_t nextRandom(uint32_t* state) {
  *state ^= *state << 13;
  *state ^= *state >> 17;
  *state ^= *state << 5;
  return *state;
}

// The bytes given, then copies of 3 to 300 bytes from 1 to 32768 bytes
// back: every length and distance code with its extra bits.
std::string copies(std::string bytes, size_t size) {
  uint32_t seed = 7;
  while (bytes.size() < size) {
    const size_t length = 3 + nextRandom(&seed) % 298, back = 1 + nextRandom(&seed) % 32768;
    for (size_t at = 0; at < length; ++at) {
      bytes.push_back(bytes[bytes.size() - back]);
    }
  }
  return bytes;
}

// Byte k of 0..24 k-th Fibonacci number times, in random order: a Huffman
// code with no limit would take 23 bits for the rarest.
std::string fibonacci() {
  std::string bytes;
  for (uint32_t k = 0, count = 1, next = 1; k < 25; ++k, next += count, count = next - count) {
    bytes.append(count, static_cast<char>(k));
  }
  for (uint32_t at = static_cast<uint32_t>(bytes.size()) - 1, seed = 5; at > 0; --at) {
    std::swap(bytes[at], bytes[nextRandom(&seed) % (at + 1)]);
  }
  return bytes;
}

// Three columns of LEB128 varints, as a report page carries its spans:
// start deltas of 1..5000, durations of 1..100000 and ids of 0..300.
std::string varintColumns(size_t rows) {
  const uint32_t ranges[3] = {5000, 100000, 301}, offsets[3] = {1, 1, 0};
  std::string columns[3];
  uint32_t seed = 12345;
  for (size_t row = 0; row < rows; ++row) {
    for (int column = 0; column < 3; ++column) {
      uint32_t value = offsets[column] + nextRandom(&seed) % ranges[column];
      for (; value >= 0x80; value >>= 7) {
        columns[column].push_back(static_cast<char>((value & 0x7f) | 0x80));
      }
      columns[column].push_back(static_cast<char>(value));
    }
  }
  return columns[0] + columns[1] + columns[2];
}

class Deflate : public testing::ScratchTest {
 protected:
  // What python's zlib inflates from the raw stream.
  std::string inflated(const std::string& stream) {
    writeFile(path("stream"), stream);
    const std::string command =
        "python3 -c \"import sys,zlib; "
        "sys.stdout.buffer.write(zlib.decompress(sys.stdin.buffer.read(), -15))\" < " +
        path("stream") + " > " + path("plain");
    return std::system(command.c_str()) == 0 ? testing::readWholeFile(path("plain"))
                                             : "(not inflated)";
  }
};

TEST_F(Deflate, PythonsZlibInflatesWhatWasCompressed) {
  if (std::system("python3 -c 'import zlib' > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "no python3 with zlib to inflate";
  }
  std::string everyByte;
  for (int byte = 0; byte < 256; ++byte) {
    everyByte.push_back(static_cast<char>(byte));
  }
  std::string random;
  for (uint32_t seed = 99; random.size() < 300000;) {
    random.push_back(static_cast<char>(nextRandom(&seed) >> 24));
  }
  // Repeats too short and far back to pay for a block's codes: blocks of
  // more than 65535 bytes, stored.
  for (size_t at = 32768; at < random.size(); at += 4096) {
    random.replace(at, 4, random, at - 30000, 4);
  }
  const auto repeat = [](const std::string& pattern) {
    return pattern + pattern + pattern + pattern;
  };
  const struct {
    const char* name;
    std::string data;
    size_t most;  // compressed bytes
  } cases[] = {
      {"empty", "", 2},
      {"one byte", "x", 3},
      {"every byte value, stored", everyByte, 256 + 5},
      {"a megabyte of one byte", std::string(1 << 20, 'a'), 1100},  // zlib -6: 1034
      {"a pattern one byte too far back to match", repeat(random.substr(0, 32769)), 131076 + 3 * 5},
      // A match 32768 back takes about 3 bytes, 13 bits of them the distance's extra bits.
      {"a pattern matched from as far back as can be", repeat(random.substr(0, 32768)),
       32768 + 1300},
      {"random bytes, stored", random, 300000 + 10 * 5},
      // Within a tenth of what zlib's level 6 makes: 76 149 bytes of these, 65 002 of the
      // copies and 2 201 675 of the 2 553 792 of the columns.
      {"bytes of Fibonacci frequencies, their codes cut to 15 bits", fibonacci(), 76149 * 11 / 10},
      {"copies of every length and distance", copies(random.substr(0, 40000), 1 << 20),
       65002 * 11 / 10},
      {"varint columns", varintColumns(400000), 2201675 * 11 / 10},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    std::string stream = "kept";
    appendDeflated(reinterpret_cast<const uint8_t*>(test.data.data()), test.data.size(), &stream);
    ASSERT_EQ("kept", stream.substr(0, 4));
    EXPECT_LE(stream.size() - 4, test.most);
    EXPECT_TRUE(inflated(stream.substr(4)) == test.data) << test.data.size() << " bytes";
  }
}

}  // namespace
}  // namespace orvel
