#pragma once
// The one reader of decimal numbers in text: FEN fields, command words,
// option values and the perft file. Each caller decides what a missing or
// out-of-range number means (a fallback, clamping, or refusal).

#include <cstddef>
#include <string_view>

#include "board/types.h"

// Blanks (space, tab), an optional sign, then decimal digits up to the first
// other character, which ends the number.
struct decimalText {
  bool found = false;     // at least one digit
  bool negative = false;  // the sign was '-'
  bool tooLong = false;   // the digits exceed 64 bits; magnitude is then unset
  u64 magnitude = 0;
  std::size_t end = 0;    // index just past the last digit read
};
decimalText readDecimal(std::string_view text);

// The number when the text holds one within [lo, hi]; false otherwise.
bool readDecimalIn(std::string_view text, i64 lo, i64 hi, i64& out);
// The number, clamped to [lo, hi]; `fallback` when the text holds none.
i64 readDecimalClamped(std::string_view text, i64 lo, i64 hi, i64 fallback);
