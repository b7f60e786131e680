#include "board/decimal.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr u64 I64_MAGNITUDE = u64(INT64_MAX);  // largest positive magnitude

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The value as i64 when it has one; false beyond the i64 range.
bool asI64(const decimalText& d, i64& out) {
  if (d.tooLong) return false;
  if (!d.negative) {
    if (d.magnitude > I64_MAGNITUDE) return false;
    out = i64(d.magnitude);
  } else {
    if (d.magnitude > I64_MAGNITUDE + 1) return false;
    out = d.magnitude == I64_MAGNITUDE + 1 ? INT64_MIN : -i64(d.magnitude);
  }
  return true;
}

}  // namespace

decimalText readDecimal(std::string_view text) {
  decimalText d;
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) d.negative = text[i++] == '-';
  for (; i < text.size() && isDigit(text[i]); ++i) {
    d.found = true;
    const u64 digit = u64(text[i] - '0');
    // Further digits are still read, so `end` is the end of the number.
    if (d.tooLong || d.magnitude > (UINT64_MAX - digit) / 10)
      d.tooLong = true;
    else
      d.magnitude = d.magnitude * 10 + digit;
  }
  if (d.tooLong) d.magnitude = 0;
  d.end = i;
  return d;
}

bool readDecimalIn(std::string_view text, i64 lo, i64 hi, i64& out) {
  const decimalText d = readDecimal(text);
  i64 v;
  if (!d.found || !asI64(d, v) || v < lo || v > hi) return false;
  out = v;
  return true;
}

i64 readDecimalClamped(std::string_view text, i64 lo, i64 hi, i64 fallback) {
  const decimalText d = readDecimal(text);
  if (!d.found) return fallback;
  i64 v;
  if (!asI64(d, v)) return d.negative ? lo : hi;
  return std::clamp(v, lo, hi);
}
