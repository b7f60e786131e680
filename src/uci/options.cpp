#include "uci/options.h"

#include "uci/commands.h"

i32 hashMegabytes = 256;
i32 threadCount = 1;
u8 ponderOption = 0;
i32 moveOverhead = 100;
std::string syzygyPath;
i32 syzygyProbeDepth = 0;

// Filled in with the playing engine.
void uciCommand() {}
void setoptionCommand(std::istringstream&) {}
