#include "movegen/setup.h"

#include "eval/eval.h"

bool setFromFen(const std::string& text, board& b, bool chess960) {
  if (!readFen(text, b, chess960)) return false;
  evalFromScratch(b);
  return true;
}
