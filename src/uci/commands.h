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
