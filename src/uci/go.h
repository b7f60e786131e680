#pragma once
// The "go" command's time allotment, exposed for tests and the bench.

// Turns `limits`, the side to move of currentBoard and the options into
// softTime, hardTime and elapsedScale (and incFactor at a game's first "go").
void allotTime();
