#pragma once
// Alpha-beta search and quiescence search.

#include "board/board.h"

i16 alphaBeta(u8 ply, i32 depth, i16 alpha, i16 beta, board& b);
i16 quiescence(u8 ply, i32 depth, i16 alpha, i16 beta, board& b);
// Neither side can mate: no pawns and at most a bishop's worth on each side.
bool insufficientMaterial(const board& b);
