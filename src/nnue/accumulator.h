#pragma once
// The network's accumulators along a search thread's line: one per ply.
// Make writes only what its move changed (a few features) into the child's
// record; the accumulators themselves are brought up to date when a node is
// evaluated, from the nearest ancestor that has them, so a node cut off
// before its evaluation costs no accumulator work. Only the set-up of a
// position computes them from the pieces.

#include "board/board.h"
#include "nnue/net.h"

namespace nnue {

// A feature change: piece code * 64 + square; the two views' rows follow from it.
constexpr u16 pieceSquare(int code, int square) { return u16(code * 64 + square); }

struct alignas(64) accumulator {
  i16 values[2][MAX_HIDDEN];  // by view: White's, Black's (the net's width used)
  // What the move into this ply took away and put down (a castling moves
  // two men; a capture takes two away).
  u16 removed[2];
  u16 added[2];
  u8 removedCount;
  u8 addedCount;
  // Each view's values belong to the position of this ply. Make clears
  // both; the values are filled in when the ply is evaluated (a mirrored
  // net's view may be built afresh there, its line between left alone).
  bool computed[2];
};

struct accumulatorStack {
  const network* net = nullptr;
  accumulator plies[PLY_RECORDS];
};

// The feature changes of a move into ply + 1 (make calls these only when the
// board carries accumulators).
inline accumulator& childRecord(board& b, int ply) {
  accumulator& a = b.accumulators->plies[ply + 1];
  a.computed[WHITE] = a.computed[BLACK] = false;
  return a;
}
inline void noteMove(board& b, int ply, u16 removed0, u16 removed1, int removedCount, u16 added0, u16 added1,
                     int addedCount) {
  accumulator& a = childRecord(b, ply);
  a.removed[0] = removed0;
  a.removed[1] = removed1;
  a.added[0] = added0;
  a.added[1] = added1;
  a.removedCount = u8(removedCount);
  a.addedCount = u8(addedCount);
}

// Points `b` at `stack` with `net` and computes ply 0's accumulators from
// the pieces; a null `net` detaches the board (the hand-written evaluation).
void attach(board& b, accumulatorStack& stack, const network* net);

// The network's score at `ply` of a board with accumulators, from the side
// to move's view; the plies between the nearest computed one and `ply` are
// brought up to date on the way.
int evaluate(board& b, int ply);

}  // namespace nnue
