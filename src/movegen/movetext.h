#pragma once
// UCI long algebraic text of moves, both ways.

#include <string>

#include "board/board.h"

// Text of a move made by `side` ("e2e4", "e7e8q", en passant by landing square).
std::string moveText(chessMove m, int side);
// Move text -> chessMove for the side to move of `b`, from the text and the
// board alone. Returns false for text that cannot name a move on the board.
bool parseMoveText(const std::string& text, const board& b, chessMove& out);
