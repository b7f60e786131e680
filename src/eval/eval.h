#pragma once
// Tapered material + piece-square evaluation, kept incrementally in the board.

#include "board/types.h"

struct board;

extern const combEval materialValue[6];
extern const i16 phaseWeight[6];
extern const combEval pieceSquareScore[6][NOFSQUARES];

constexpr combEval TEMPO = X(25, 17);
constexpr int PHASE_MIN = 502;
constexpr int PHASE_MAX = 6198;
constexpr int PHASE_RANGE = PHASE_MAX - PHASE_MIN;

// Table index of a square for a colour: tables are written from White's view.
constexpr int pstIndex(int sq, int colour) { return colour == WHITE ? (sq ^ 56) : sq; }

void evalFromScratch(board& b);
i16 evaluate(const board& b);
