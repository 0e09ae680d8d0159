// Text for JSON that any reader takes: strict escapes and valid UTF-8.
#ifndef ORVEL_REPORT_JSONTEXT_H
#define ORVEL_REPORT_JSONTEXT_H

#include <string>

namespace orvel {

// Appends bytes as a JSON string, quotes included: control bytes as \u00XX,
// quote and backslash escaped, and every byte that is not part of a
// well-formed UTF-8 sequence (overlong forms, surrogates and code points
// past U+10FFFF included) replaced by U+FFFD.
void appendJsonString(const std::string& bytes, std::string* out);

// Appends value with at most three decimals and no trailing zeros: the
// microseconds of summaries and exports are whole or nearly so.
void appendJsonNumber(double value, std::string* out);

// Appends value in decimal digits.
void appendJsonInteger(long long value, std::string* out);

}  // namespace orvel

#endif  // ORVEL_REPORT_JSONTEXT_H
