// Raw DEFLATE (RFC 1951) compression, so that a report page can carry
// binary data which the browser inflates with
// new DecompressionStream("deflate-raw"); the ARM target has no zlib.
//
// The whole input is compressed in one call, into one complete stream (the
// last block flagged, no zlib or gzip framing). It finds repeated strings
// of 4 to 258 bytes within 32 KiB through bounded hash chains, with one
// step of lazy matching, and codes blocks of up to 64 Ki symbols with
// Huffman codes made for each block, or the fixed ones, or stores them,
// whichever is smallest: about the size zlib makes at level 6. Time grows
// linearly with the input, whatever it holds; memory is the output and
// under 1 MB of tables. There is no streaming, no preset dictionary and no
// level to choose.
#ifndef ORVEL_REPORT_DEFLATE_H
#define ORVEL_REPORT_DEFLATE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvel {

// Appends to out the compressed stream of the size bytes at data.
void appendDeflated(const uint8_t* data, size_t size, std::string* out);

}  // namespace orvel

#endif  // ORVEL_REPORT_DEFLATE_H
