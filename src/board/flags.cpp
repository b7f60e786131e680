#include "board/flags.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "board/decimal.h"

bool wholeNumber(const std::string& text, i64 lo, i64 hi, i64& value) {
  const decimalText d = readDecimal(text);
  if (!d.found || d.tooLong || d.end != text.size()) return false;
  return readDecimalIn(text, lo, hi, value);
}

bool flagReader::text(std::string& value) {
  if (done()) {
    error_ = tool_ + ": " + current_ + " needs a value";
    return false;
  }
  value = args_[at_++];
  return true;
}

bool flagReader::number(i64 lo, i64 hi, i64& value) {
  std::string word;
  if (!text(word)) return false;
  if (wholeNumber(word, lo, hi, value)) return true;
  error_ = tool_ + ": " + current_ + " takes a whole number from " + std::to_string(lo) + " to " + std::to_string(hi) +
           ", not '" + word + "'";
  return false;
}

bool flagReader::real(double lo, double hi, double& value) {
  std::string word;
  if (!text(word)) return false;
  char* end = nullptr;
  const double v = word.empty() ? 0 : std::strtod(word.c_str(), &end);
  if (!word.empty() && *end == '\0' && std::isfinite(v) && v >= lo && v <= hi) {
    value = v;
    return true;
  }
  char range[64];
  std::snprintf(range, sizeof range, "%g to %g", lo, hi);
  error_ = tool_ + ": " + current_ + " takes a number from " + range + ", not '" + word + "'";
  return false;
}

bool flagReader::unknown() {
  error_ = tool_ + ": unknown flag '" + current_ + "' (" + help_ + " lists them)";
  return false;
}
