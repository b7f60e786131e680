#pragma once
// Alpha-beta search, quiescence search and the exchange tests.

#include "board/board.h"

i16 alphaBeta(u8 ply, i32 depth, i16 alpha, i16 beta, board& b);
i16 quiescence(u8 ply, i32 depth, i16 alpha, i16 beta, board& b);
bool seeNonNegative(const board& b, chessMove m);
bool seeAtLeast(const board& b, chessMove m, int threshold);
// Can a remembered move (hash move, killer, counter move) be played here?
bool isPseudoLegal(chessMove m, const board& b, u8 ply);
// Neither side can mate: no pawns and at most a bishop's worth on each side.
bool insufficientMaterial(const board& b);
