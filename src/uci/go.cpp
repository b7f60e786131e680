#include "uci/commands.h"
#include "uci/limits.h"

// Filled in with the playing engine.
void goCommand(std::istringstream&) {}
void stopCommand() { stopFlag.store(1, std::memory_order_relaxed); }
void ponderhitCommand() {}
void ucinewgameCommand() {}
