#pragma once
// Alpha-beta search and quiescence search.

#include "board/board.h"
#include "eval/eval.h"
#include "nnue/accumulator.h"
#include "search/tuning.h"

// S is the set of tuning values (search/tuning.h): handSearch or netSearch.
template <class S>
i16 alphaBeta(u8 ply, i32 depth, i16 alpha, i16 beta, board& b);
template <class S>
i16 quiescence(u8 ply, i32 depth, i16 alpha, i16 beta, board& b);

// The same with the set of the evaluation the board carries.
inline i16 alphaBeta(u8 ply, i32 depth, i16 alpha, i16 beta, board& b) {
  return b.accumulators ? alphaBeta<netSearch>(ply, depth, alpha, beta, b)
                        : alphaBeta<handSearch>(ply, depth, alpha, beta, b);
}
inline i16 quiescence(u8 ply, i32 depth, i16 alpha, i16 beta, board& b) {
  return b.accumulators ? quiescence<netSearch>(ply, depth, alpha, beta, b)
                        : quiescence<handSearch>(ply, depth, alpha, beta, b);
}
// Neither side can mate: no pawns and at most a bishop's worth on each side.
bool insufficientMaterial(const board& b);

// The static evaluation wherever the search needs one: the network's when
// the thread's board carries accumulators, else the hand-written terms.
inline i16 staticEvaluation(board& b, u8 ply) {
  if (b.accumulators) [[unlikely]]
    return i16(nnue::evaluate(b, ply));
  return evaluate(b);
}
