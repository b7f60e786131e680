#include "eval/eval.h"

#include "board/board.h"

const combEval materialValue[6] = {X(82, 97), X(332, 302), X(361, 305), X(462, 535), X(1031, 978), X(12000, 12000)};
const i16 phaseWeight[6] = {82, 332, 361, 462, 1031, 12000};

const combEval pieceSquareScore[6][NOFSQUARES] = {
#include "eval/pst_tables.inc"
};

void evalFromScratch(board& b) {
  b.material[0] = b.material[1] = 0;
  b.pstSum[0] = b.pstSum[1] = 0;
  int phase = 0;
  for (int t = 0; t < 6; ++t)
    for (int c = 0; c < 2; ++c) {
      u64 set = b.pieceBB[2 * t + 2 + c];
      int n = popCount(set);
      if (t != 5) b.material[c] = addEval(b.material[c], combEval(u32(n) * u32(materialValue[t])));
      if (t >= 1 && t <= 4) phase += n * phaseWeight[t];
      while (set) {
        int s = popLsb(set);
        b.pstSum[c] = addEval(b.pstSum[c], pieceSquareScore[t][pstIndex(s, c)]);
      }
    }
  b.phase = i16(phase);
}

i16 evaluate(const board& b) {
  int p = b.phase;
  if (p < PHASE_MIN) p = PHASE_MIN;
  if (p > PHASE_MAX) p = PHASE_MAX;
  combEval v = subEval(addEval(b.material[WHITE], b.pstSum[WHITE]), addEval(b.material[BLACK], b.pstSum[BLACK]));
  v = b.sideToMove == WHITE ? addEval(v, TEMPO) : subEval(v, TEMPO);
  int mg = mgOf(v), eg = egOf(v);
  int s = (eg * (PHASE_MAX - p) + mg * (p - PHASE_MIN)) / PHASE_RANGE;
  return i16(b.sideToMove == WHITE ? s : -s);
}
