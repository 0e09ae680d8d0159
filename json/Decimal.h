// Plain decimals read exactly, without strtod. A decimal of at most 18
// digits whose digits, taken as one integer (the mantissa), are at most
// 2^53 is the quotient of two exact doubles: the mantissa and a power of
// ten. Division rounds that quotient once, to nearest, which is the double
// strtod gives for the decimal. The trace scanners and the report reader
// read their numbers this way and leave every other form to the library.
#ifndef ORVEL_JSON_DECIMAL_H
#define ORVEL_JSON_DECIMAL_H

#include <cfloat>
#include <cstddef>
#include <cstdint>

namespace orvel {
namespace decimal {

// Rounded once only where double arithmetic is done in doubles.
static_assert(FLT_EVAL_METHOD == 0, "double arithmetic must not use wider registers");

const size_t kMaxDigits = 18;

// clang-format off
// 10^0 to 10^18, as integers and as doubles (all exact).
inline constexpr uint64_t kTens[] = {
    1ULL,          10ULL,          100ULL,          1000ULL,          10000ULL,
    100000ULL,     1000000ULL,     10000000ULL,     100000000ULL,     1000000000ULL,
    10000000000ULL, 100000000000ULL, 1000000000000ULL, 10000000000000ULL, 100000000000000ULL,
    1000000000000000ULL, 10000000000000000ULL, 100000000000000000ULL,
    1000000000000000000ULL};
inline constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,
                                          1e7,  1e8,  1e9,  1e10, 1e11, 1e12, 1e13,
                                          1e14, 1e15, 1e16, 1e17, 1e18};
// clang-format on

// mantissa / 10^decimals into value where that quotient is exact as above;
// false (value untouched) otherwise.
inline bool exactQuotient(uint64_t mantissa, size_t decimals, double* value) {
  if (mantissa > (uint64_t(1) << 53) || decimals > kMaxDigits) {
    return false;
  }
  *value = static_cast<double>(mantissa) / kPowersOfTen[decimals];
  return true;
}

}  // namespace decimal
}  // namespace orvel

#endif  // ORVEL_JSON_DECIMAL_H
