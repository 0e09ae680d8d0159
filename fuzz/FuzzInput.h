// Reads fuzz bytes as a sequence of small decisions.
#ifndef ORVEL_FUZZ_FUZZINPUT_H
#define ORVEL_FUZZ_FUZZINPUT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvel {
namespace fuzzing {

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : at(data), end(data + size) {}
  bool empty() const { return at == end; }
  // The next byte, or 0 when none is left.
  uint8_t byte() { return at == end ? 0 : *at++; }
  // Up to length bytes as a string.
  std::string bytes(size_t length) {
    size_t left = static_cast<size_t>(end - at);
    if (length > left) {
      length = left;
    }
    std::string text(reinterpret_cast<const char*>(at), length);
    at += length;
    return text;
  }
  std::string rest() { return bytes(static_cast<size_t>(end - at)); }

 private:
  const uint8_t* at;
  const uint8_t* const end;
};

}  // namespace fuzzing
}  // namespace orvel

#endif  // ORVEL_FUZZ_FUZZINPUT_H
