// Raw deflate streams, for now of stored blocks only: the browser inflates
// them with DecompressionStream("deflate-raw").
#ifndef ORVEL_REPORT_DEFLATE_H
#define ORVEL_REPORT_DEFLATE_H
#include <cstddef>
#include <cstdint>
#include <string>
namespace orvel {
void appendDeflated(const uint8_t* data, size_t size, std::string* out);
}
#endif
