// Finding a line's end and, in the same pass, the first place of one byte
// in it: a trace line is looked at twice otherwise, once for its line feed
// and once for the '<' that opens an strace call's duration.
#ifndef ORVEL_APP_LINESEARCH_H
#define ORVEL_APP_LINESEARCH_H

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvel {

// Returns the first line feed in [from, to), or null. Where the processor
// has SSE2, *first is set to the first byte before that line feed that is
// `mark` or a NUL, or to the line feed when there is none, which is what
// strchrnul(from, mark) finds once the line feed is made a NUL; elsewhere
// (and when null is returned) *first is null: not known.
inline const char* findLineFeed(const char* from, const char* to, char mark, const char** first) {
  *first = nullptr;
#if defined(__SSE2__)
  const __m128i feeds = _mm_set1_epi8('\n');
  const __m128i marks = _mm_set1_epi8(mark);
  const __m128i nuls = _mm_setzero_si128();
  const char* p = from;
  for (; to - p >= 16; p += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const unsigned int feedsFound =
        static_cast<unsigned int>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, feeds)));
    const unsigned int found =
        feedsFound | static_cast<unsigned int>(_mm_movemask_epi8(
                         _mm_or_si128(_mm_cmpeq_epi8(bytes, marks), _mm_cmpeq_epi8(bytes, nuls))));
    if (found != 0) {
      // The line feed after a mark (a duration's '<') is most often in the
      // same sixteen bytes or the next.
      const int at = __builtin_ctz(found);
      *first = p + at;
      const unsigned int feedsAfter = feedsFound >> at;
      if (feedsAfter != 0) {
        return p + at + __builtin_ctz(feedsAfter);
      }
      p += 16;
      if (to - p >= 16) {
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const int nextFeeds = _mm_movemask_epi8(_mm_cmpeq_epi8(next, feeds));
        if (nextFeeds != 0) {
          return p + __builtin_ctz(static_cast<unsigned int>(nextFeeds));
        }
      }
      return static_cast<const char*>(std::memchr(p, '\n', to - p));
    }
  }
  for (; p < to && *p != '\n' && *p != mark && *p != '\0'; ++p) {
  }
  if (p == to) {
    return nullptr;
  }
  *first = p;
  return *p == '\n' ? p : static_cast<const char*>(std::memchr(p, '\n', to - p));
#else
  (void)mark;
  return static_cast<const char*>(std::memchr(from, '\n', to - from));
#endif
}

}  // namespace orvel

#endif  // ORVEL_APP_LINESEARCH_H
