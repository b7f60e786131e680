#pragma once
// The probing code's own small position type with its move generators, move
// maker and legality tests. Probes look a few plies ahead (captures, en
// passant, pawn moves, every move at the root) without touching a `board`.

#include <array>

#include "board/types.h"

struct tbPosition {
  u64 white, black;
  u64 kings, queens, rooks, bishops, knights, pawns;
  u8 rule50;  // half-move clock
  u8 ep;      // square a pawn may capture onto en passant; 0 = none
  bool turn;  // true: White to move
};

// Bits 0-5 destination, 6-11 origin, 12-14 promotion (1 Q, 2 R, 3 B, 4 N).
using tbMove = u16;

constexpr int tbMoveTo(tbMove m) { return m & 63; }
constexpr int tbMoveFrom(tbMove m) { return (m >> 6) & 63; }
constexpr int tbMovePromo(tbMove m) { return (m >> 12) & 7; }
constexpr tbMove makeTbMove(int from, int to, int promo = 0) { return tbMove(to | (from << 6) | (promo << 12)); }

// A position of up to six pieces has at most 5 * 27 + 8 pseudo-legal moves
// for one side; the lists live on the stack of each probe.
constexpr int TB_MAX_MOVES = 256;

namespace tbdetail {
constexpr std::array<std::array<u64, 64>, 2> makePawnAttacks() {
  std::array<std::array<u64, 64>, 2> t{};
  for (int sq = 0; sq < 64; ++sq) {
    int file = sq & 7, rank = sq >> 3;
    if (rank < 7) {  // White, index 1
      if (file > 0) t[1][sq] |= u64(1) << (sq + 7);
      if (file < 7) t[1][sq] |= u64(1) << (sq + 9);
    }
    if (rank > 0) {  // Black, index 0
      if (file > 0) t[0][sq] |= u64(1) << (sq - 9);
      if (file < 7) t[0][sq] |= u64(1) << (sq - 7);
    }
  }
  return t;
}
}  // namespace tbdetail

// Squares a pawn attacks; index 1 = White, 0 = Black (the `turn` convention).
inline constexpr std::array<std::array<u64, 64>, 2> tbPawnAttacks = tbdetail::makePawnAttacks();

// Squares of the pieces of a table piece code: 1..6 White pawn..king,
// 9..14 the same for Black; empty for any other code.
u64 tbPieces(const tbPosition& pos, int code);

tbMove* tbGenCaptures(const tbPosition& pos, tbMove* out);
tbMove* tbGenPawnQuiets(const tbPosition& pos, tbMove* out);
tbMove* tbGenEpCaptures(const tbPosition& pos, tbMove* out);
tbMove* tbGenMoves(const tbPosition& pos, tbMove* out);

// Builds the child; true when the side that moved is not left in check.
bool tbDoMove(tbPosition& child, const tbPosition& pos, tbMove m);
bool tbIsLegal(const tbPosition& pos);
bool tbIsValid(const tbPosition& pos);
// Is the side to move in check?
bool tbInCheck(const tbPosition& pos);
// Is `m` an en-passant capture in `pos`?
bool tbIsEpCapture(const tbPosition& pos, tbMove m);
