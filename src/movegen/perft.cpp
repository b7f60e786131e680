#include "movegen/perft.h"

#include <memory>
#include <sstream>

#include "board/board.h"
#include "movegen/makemove.h"
#include "movegen/movegen.h"
#include "uci/limits.h"
#include "uci/output.h"

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

void perftTimed(u32 depth, const std::string& position) {
  // A copy, so the current position is never touched; it keeps the command
  // thread's move buffer.
  auto local = std::make_unique<board>(currentBoard);
  if (position != "current") setFromFen(position, *local);
  outText(boardDiagram(*local));

  const i64 start = nowNs();
  const u64 nodes = perft(0, depth, *local);
  const i64 elapsed = nowNs() - start;
  const double seconds = double(elapsed) / 1e9;

  std::ostringstream line1;
  line1 << elapsed << " ns and " << seconds << " in seconds";
  outLine(line1.str());
  std::ostringstream line2;
  line2 << "Perft results for depth: " << depth << "  " << nodes << "  Nodes per sec: " << double(nodes) / seconds
        << "\n";
  outText(line2.str());
}
