#pragma once
// Perft: the leaf count of the legal move tree, the move generator's check.

#include "board/types.h"

struct board;

u64 perft(u8 ply, u32 depth, board& b);

// Leaves and the nanoseconds the count took.
struct perftTiming {
  u64 nodes = 0;
  i64 elapsedNs = 0;
};
// Counts `depth` plies below `position` on a copy (which keeps its move
// buffer), so the position itself is never touched.
perftTiming perftTimed(u32 depth, const board& position);
