#pragma once
// Entry points of the endgame tablebases used by the engine.

#include <string>

#include "board/board.h"

// Largest piece count of the loaded tables; 0 when none are loaded.
extern int tbLargest;

void initTablebases(const std::string& paths);
// WDL of the position at `ply`: 0 loss .. 4 win for the side to move, -1 unknown.
int tbProbeSearch(u8 ply, board& b);
// Tablebase move of the root (top byte = moving piece), or 0.
chessMove tbProbeRoot(board& b);
