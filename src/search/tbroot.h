#pragma once
// The tablebases at the root, in the search's terms: the move that keeps the
// best result, checked against the board, with the score it stands for.

#include "board/board.h"

// A tablebase result holds at any depth: it is stored, and a tablebase root
// is shown, with the deepest depth there is.
constexpr int TABLEBASE_DEPTH = 127;

// The root's tablebase move (top byte = moving piece), or 0 when the tables
// give no usable answer. `score` receives a win or loss just outside the mate
// band (MATE_BAND - DTZ), or 0 for a draw, the fifty-move rule counted.
// With `allowed` (`allowedCount` legal moves of the root) the move is the
// best of those, and the score is that move's.
chessMove tbProbeRoot(board& b, int& score, const chessMove* allowed = nullptr, int allowedCount = 0);
