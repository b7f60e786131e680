#pragma once
// A board from FEN text, ready to play and search: the board layer reads the
// text, the evaluation adds its sums, which make/unmake then keep in step.

#include <string>

#include "board/board.h"

// Tolerant of missing trailing fields. Returns false (and leaves `b`
// unchanged) when the text lacks a usable placement and side. `chess960` as
// for readFen.
bool setFromFen(const std::string& text, board& b, bool chess960 = false);
