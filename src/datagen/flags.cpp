#include "datagen/flags.h"

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

bool flagReader::unknown() {
  error_ = tool_ + ": unknown flag '" + current_ + "' (dravlin " + tool_ + " --help lists them)";
  return false;
}
