#include "report/Deflate.h"
namespace orvel {
void appendDeflated(const uint8_t* data, size_t size, std::string* out) {
  size_t at = 0;
  do {
    const size_t n = size - at < 65535 ? size - at : 65535;
    const bool last = at + n == size;
    out->push_back(last ? 1 : 0);
    out->push_back(static_cast<char>(n & 255));
    out->push_back(static_cast<char>(n >> 8));
    out->push_back(static_cast<char>(~n & 255));
    out->push_back(static_cast<char>((~n >> 8) & 255));
    out->append(reinterpret_cast<const char*>(data + at), n);
    at += n;
  } while (at < size);
}
}  // namespace orvel
