#pragma once
// UCI long algebraic text of moves, both ways.

#include <string>

#include "board/board.h"

// Text of a move made by `side` ("e2e4", "e7e8q", en passant by landing square).
// Castling is the king's move ("e1g1"), or with a Chess960 set-up the king
// taking its own rook ("e1h1", "b8a8").
std::string moveText(chessMove m, int side, const castlingSetup* setup = nullptr);
// Move text -> chessMove for the side to move of `b`, from the text and the
// board alone. Returns false for text that cannot name a move on the board.
// Castling is read in the form moveText writes for the board's set-up.
bool parseMoveText(const std::string& text, const board& b, chessMove& out);
