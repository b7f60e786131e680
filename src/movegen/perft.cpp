#include "movegen/perft.h"
u64 perft(u8, u32, board&) { return 0; }
void perftTimed(u32, const std::string&) {}
