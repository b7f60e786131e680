#pragma once
#include <string>
#include "board/types.h"
struct board;
u64 perft(u8 ply, u32 depth, board& b);
void perftTimed(u32 depth, const std::string& position);
