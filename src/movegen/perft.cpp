#include "movegen/perft.h"

#include <memory>

#include "board/board.h"
#include "board/clock.h"
#include "movegen/makemove.h"
#include "movegen/movegen.h"

namespace {

// Room that one ply's list may need before it is filtered: sixteen men can
// never have more pseudo-legal moves than this.
constexpr long MAX_LIST_SLOTS = 512;

}  // namespace

u64 perft(u8 ply, u32 depth, board& b) {
  if (depth == 0) return 1;
  chessMove* start = b.plies[ply].listStart;
  // The ply records and the move buffer end somewhere; a tree that would run
  // past them (only absurd depths from crowded positions get there, and
  // those could never finish anyway) is cut off instead of overwriting memory.
  if (ply + 2 >= PLY_RECORDS || start - b.plies[0].listStart > MOVE_BUFFER_SIZE - MAX_LIST_SLOTS) return 0;
  if (depth == 1) return countLegal(ply, start, b);
  generateLegal(ply, start, b);
  chessMove* end = b.plies[ply].listEnd;
  u64 nodes = 0;
  for (chessMove* m = start; m != end; ++m) {
    makeMove(b, ply, *m);
    nodes += perft(u8(ply + 1), depth - 1, b);
    unmakeMove(b, ply, *m);
  }
  return nodes;
}

perftTiming perftTimed(u32 depth, const board& position) {
  auto local = std::make_unique<board>(position);
  perftTiming t;
  const i64 start = nowNs();
  t.nodes = perft(0, depth, *local);
  t.elapsedNs = nowNs() - start;
  return t;
}
