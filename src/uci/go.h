#pragma once
// The "go" command's time allotment, exposed for tests and the bench, and the
// game state it reads besides the limits.

#include "board/types.h"

// Half-moves of the game so far, as "position" counted them (1024 when a
// FEN position gives no usable count).
extern i32 gamePlyCount;
// Set by "ucinewgame"; the first "go" of a game then fixes incFactor.
extern u8 newGame;
extern float incFactor;

// Turns `limits`, the side to move of currentBoard and the options into
// softTime, hardTime and elapsedScale (and incFactor at a game's first "go").
void allotTime();
