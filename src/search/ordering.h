#pragma once
// Move ordering: the staged picker of the main search, the ProbCut picker,
// the exchange tests and the heuristic tables (killers, counter moves, quiet
// history and the two move-pair histories).

#include <atomic>

#include "board/board.h"
#include "movegen/movegen.h"

constexpr int BAD_CAPTURE_MARK = 255;
constexpr int HISTORY_ROW = 768;  // 12 pieces x 64 squares

extern const int seeValue[14];

// Counters that another thread reads while this one counts.
inline void bumpCounter(u64& counter) {
  std::atomic_ref<u64>(counter).store(counter + 1, std::memory_order_relaxed);
}

// The lists of all plies share one buffer of MOVE_BUFFER_SIZE slots that
// starts at ply 0's list. A node needs room for its longest list (218 moves
// and three remembered ones); one that lacks it is treated as a leaf.
inline bool moveListRoom(const board& b, int ply) {
  return b.plies[ply].listStart - b.plies[0].listStart <= MOVE_BUFFER_SIZE - 256;
}

// Row of a move-pair table selected by the move made `back` plies before
// `ply`, or nullptr when there is no such move (root, null move).
inline i16* historyRow(const board& b, int ply, int back, i16* table) {
  if (ply < back || !table) return nullptr;
  chessMove prev = b.plies[ply - back].currentMove;
  int code = int(prev >> 24);
  if (prev == 0 || code < 2 || code > 13) return nullptr;
  return table + ((code - 2) * 64 + moveTo(prev)) * HISTORY_ROW;
}

// Moves the move with the highest ordering byte in [first, end) to first;
// the earliest of equal bytes wins.
void pickHighestScore(chessMove* first, chessMove* end);
// Evasions that put a piece where it is lost (by the exchange test) are
// ordered later; king moves, en passant, castling and the generator's
// top-scored moves keep their place.
void demoteLosingEvasions(const board& b, chessMove* first, chessMove* end);
// Prepares the ply for nextMove; `hashValid` says the hash move passed
// isPseudoLegal and the legality test.
void preparePicker(board& b, u8 ply, bool hashValid);
// Next move of the staged picker, 0 when exhausted. With `inListOrder` the
// quiet moves come unsorted (late-move pruning has given up on them).
chessMove nextMove(u8 ply, board& b, bool inListOrder = false);
// ProbCut picker: makes the move at `cursor` when it is a capture or
// promotion gaining at least `threshold`, and returns true.
bool nextProbCutMove(u8 ply, chessMove* cursor, board& b, int threshold);
// Heuristic updates after a cut-off by `m` (with its mover's code on top),
// by the set S of tuning values; without S, by the board's evaluation's set.
template <class S>
void updateOrdering(u8 ply, int depth, chessMove m, board& b);
void updateOrdering(u8 ply, int depth, chessMove m, board& b);
// Does the hash move pass the plausibility and the full legality test?
bool hashMoveUsable(chessMove m, board& b, u8 ply);
// Static exchange evaluation of `m` before it is made: does its mover come
// out of the exchange on its destination with at least `threshold` (with
// nothing lost)?
bool seeAtLeast(const board& b, chessMove m, int threshold);
bool seeNonNegative(const board& b, chessMove m);
// Exchange test on the board after `m` (which captured `captured`, 0 if
// nothing) was made: true when the side now to move cannot win material by
// taking the piece m put on its destination.
bool movedPieceSafe(const board& b, chessMove m, int captured);
