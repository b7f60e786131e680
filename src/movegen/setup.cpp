#include "movegen/setup.h"

#include "eval/eval.h"

bool setFromFen(const std::string& text, board& b) {
  if (!readFen(text, b)) return false;
  evalFromScratch(b);
  return true;
}
