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
  // The bytes of one sixteen that are a line feed, and those that are a
  // line feed, a mark or a NUL.
  auto feedsIn = [&](__m128i bytes) {
    return static_cast<unsigned int>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, feeds)));
  };
  auto stopsIn = [&](__m128i bytes) {
    return _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, feeds), _mm_cmpeq_epi8(bytes, marks)),
                        _mm_cmpeq_epi8(bytes, nuls));
  };
  const char* p = from;
  // Thirty-two bytes a step, as two sixteens with one test: trace lines
  // run to a hundred bytes and more before their first mark.
  for (; to - p >= 32; p += 32) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const unsigned int found = static_cast<unsigned int>(_mm_movemask_epi8(stopsIn(low))) |
                               static_cast<unsigned int>(_mm_movemask_epi8(stopsIn(high))) << 16;
    if (found != 0) {
      // The line feed after a mark (a duration's '<') is most often in the
      // same thirty-two bytes or the next sixteen.
      const int at = __builtin_ctz(found);
      *first = p + at;
      const unsigned int feedsAfter = (feedsIn(low) | feedsIn(high) << 16) >> at;
      if (feedsAfter != 0) {
        return p + at + __builtin_ctz(feedsAfter);
      }
      p += 32;
      if (to - p >= 16) {
        const unsigned int nextFeeds =
            feedsIn(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        if (nextFeeds != 0) {
          return p + __builtin_ctz(nextFeeds);
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
