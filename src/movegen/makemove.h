#pragma once
// Playing and taking back moves; the state unmake needs goes to plies[ply + 1].

#include "board/board.h"

void makeMove(board& b, u8 ply, chessMove m);
void unmakeMove(board& b, u8 ply, chessMove m);
// The key the position will have after `m` (from a list of this ply), for
// fetching the child's table bucket before the move is made.
u64 keyAfter(const board& b, u8 ply, chessMove m);

// Would the side to move attack the opponent's king after `m` (a legal
// move of this ply)? The same answer as the king test on the board after
// makeMove, read from the board before it, so that a move which is only
// looked at for giving check need not be made.
bool givesCheck(const board& b, chessMove m);

// Null move for the search: unmake restores the key the caller saved before.
void makeNullMove(board& b, u8 ply);
void unmakeNullMove(board& b, u8 ply, u64 savedKey);
