#pragma once
// Alpha-beta search and quiescence search.

#include "board/board.h"
#include "eval/eval.h"
#include "nnue/accumulator.h"

i16 alphaBeta(u8 ply, i32 depth, i16 alpha, i16 beta, board& b);
i16 quiescence(u8 ply, i32 depth, i16 alpha, i16 beta, board& b);
// Neither side can mate: no pawns and at most a bishop's worth on each side.
bool insufficientMaterial(const board& b);

// The static evaluation wherever the search needs one: the network's when
// the thread's board carries accumulators, else the hand-written terms.
inline i16 staticEvaluation(board& b, u8 ply) {
  if (b.accumulators) [[unlikely]]
    return i16(nnue::evaluate(b, ply));
  return evaluate(b);
}
