#pragma once
// Playing and taking back moves; the state unmake needs goes to plies[ply + 1].

#include "board/board.h"

void makeMove(board& b, u8 ply, chessMove m);
void unmakeMove(board& b, u8 ply, chessMove m);
// Null move for the search: unmake restores the key the caller saved before.
void makeNullMove(board& b, u8 ply);
void unmakeNullMove(board& b, u8 ply, u64 savedKey);
