#pragma once
// Handlers of the command table; each gets the rest of its command line.

#include <sstream>

void positionCommand(std::istringstream& words);
void goCommand(std::istringstream& words);
void stopCommand();
void ponderhitCommand();
void ucinewgameCommand();
void uciCommand();
void setoptionCommand(std::istringstream& words);
// Perft check of the reference file whose path is fixed at build time.
void rtestCommand();
// Fixed-depth search over built-in positions; prints "<nodes> nodes <nps> nps".
void benchCommand(std::istringstream& words);
