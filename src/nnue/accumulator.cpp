#include "nnue/accumulator.h"

namespace nnue {

namespace {

// Row of the feature weights for a piece-square change seen from `view`,
// whose squares are XORed with `flip`.
template <int H>
inline const i16* row(const network& net, int view, int flip, u16 change) {
  const int code = change >> 6, square = change & 63;
  return net.featureWeights + std::size_t(pieceFeature(view, code, square, flip)) * H;
}

// One pass over the values for each kind of move: a child's accumulator is
// its parent's with a few rows taken away and put down.
template <int H>
void copyRows(const i16* __restrict from, i16* __restrict to) {
  for (int i = 0; i < H; ++i) to[i] = from[i];
}
template <int H>
void subAdd(const i16* __restrict from, i16* __restrict to, const i16* __restrict s0, const i16* __restrict a0) {
  for (int i = 0; i < H; ++i) to[i] = i16(from[i] - s0[i] + a0[i]);
}
template <int H>
void subSubAdd(const i16* __restrict from, i16* __restrict to, const i16* __restrict s0, const i16* __restrict s1,
               const i16* __restrict a0) {
  for (int i = 0; i < H; ++i) to[i] = i16(from[i] - s0[i] - s1[i] + a0[i]);
}
template <int H>
void subSubAddAdd(const i16* __restrict from, i16* __restrict to, const i16* __restrict s0, const i16* __restrict s1,
                  const i16* __restrict a0, const i16* __restrict a1) {
  for (int i = 0; i < H; ++i) to[i] = i16(from[i] - s0[i] - s1[i] + a0[i] + a1[i]);
}

// One view of the child from its parent's and the child's recorded changes,
// both seen with the same `flip`. Every move is one of the shapes below: a
// null move changes nothing, a quiet move or promotion one man, a capture
// takes two away, a castling moves two (all taken away before any is put
// down, so that squares shared in Chess960 come out right; in integers the
// order does not matter anyway).
template <int H>
void update(const network& net, int view, int flip, const accumulator& parent, accumulator& child) {
  const int removed = child.removedCount, added = child.addedCount;
  const i16* from = parent.values[view];
  i16* to = child.values[view];
  if (removed == 0) {
    copyRows<H>(from, to);
  } else if (removed == 1) {
    subAdd<H>(from, to, row<H>(net, view, flip, child.removed[0]), row<H>(net, view, flip, child.added[0]));
  } else if (added == 1) {
    subSubAdd<H>(from, to, row<H>(net, view, flip, child.removed[0]), row<H>(net, view, flip, child.removed[1]),
                 row<H>(net, view, flip, child.added[0]));
  } else {
    subSubAddAdd<H>(from, to, row<H>(net, view, flip, child.removed[0]), row<H>(net, view, flip, child.removed[1]),
                    row<H>(net, view, flip, child.added[0]), row<H>(net, view, flip, child.added[1]));
  }
  child.computed[view] = true;
}

// Did the move into `a` take `view`'s king from the other half of the
// board than `flip` says (a mirrored net's view seen otherwise before it)?
inline bool kingCrossed(const accumulator& a, int view, int flip) {
  for (int i = 0; i < a.removedCount; ++i)
    if ((a.removed[i] >> 6) == WHITE_KING + view && kingFlip(true, a.removed[i] & 63) != flip) return true;
  return false;
}

// Brings `view` at `ply` up to date from the nearest ply that has it, or,
// when its king crossed the board's middle on the way, from the pieces.
template <int H>
void bringUp(const network& net, board& b, accumulatorStack& stack, int ply, int view) {
  const int flip = viewFlip(net, b, view);
  // Ply 0 is computed at set-up, so the walk back ends there at the latest.
  int from = ply;
  for (; !stack.plies[from].computed[view]; --from) {
    if (net.mirrored && kingCrossed(stack.plies[from], view, flip)) {
      refreshView(net, b, view, stack.plies[ply].values[view]);
      stack.plies[ply].computed[view] = true;
      return;
    }
  }
  for (int p = from + 1; p <= ply; ++p) update<H>(net, view, flip, stack.plies[p - 1], stack.plies[p]);
}

}  // namespace

void attach(board& b, accumulatorStack& stack, const network* net) {
  if (!net) {
    b.accumulators = nullptr;
    return;
  }
  stack.net = net;
  b.accumulators = &stack;
  accumulator& root = stack.plies[0];
  refreshView(*net, b, WHITE, root.values[WHITE]);
  refreshView(*net, b, BLACK, root.values[BLACK]);
  root.removedCount = root.addedCount = 0;
  root.computed[WHITE] = root.computed[BLACK] = true;
}

int evaluate(board& b, int ply) {
  accumulatorStack& stack = *b.accumulators;
  const network& net = *stack.net;
  return withWidth(net.hidden, [&]<int H>() {
    bringUp<H>(net, b, stack, ply, WHITE);
    bringUp<H>(net, b, stack, ply, BLACK);
    const accumulator& a = stack.plies[ply];
    const int us = b.sideToMove;
    return outputOf<H>(net, a.values[us], a.values[us ^ 1], bucketOf(net, popCount(occupancy(b))));
  });
}

}  // namespace nnue
