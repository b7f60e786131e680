#include "movegen/movegen.h"

#include "board/attacks.h"

// The generators are written once per colour (template on the mover) so that
// pawn directions and piece codes are constants in the inner loops. The order
// in which moves are written and their score bytes are what the search's move
// ordering builds on: keep both exactly when changing anything here.

namespace {

constexpr u64 FILE_A = 0x0101010101010101ULL;
constexpr u64 FILE_H = FILE_A << 7;
constexpr u64 RANK_1 = 0xFFULL;
constexpr u64 RANK_3 = RANK_1 << 16;
constexpr u64 RANK_6 = RANK_1 << 40;
constexpr u64 RANK_8 = RANK_1 << 56;

// Score byte of a tactical move, computed modulo 256.
constexpr int captureScore(int victim, int offset) { return (victim * 8 - offset) & 0xFF; }

template <int US>
struct side {
  static constexpr int THEM = US ^ 1;
  static constexpr u64 LAST_RANK = US == WHITE ? RANK_8 : RANK_1;
  static constexpr u64 DOUBLE_RANK = US == WHITE ? RANK_3 : RANK_6;  // after one step
  static constexpr int UP = US == WHITE ? 8 : -8;
  // Captures that move the pawn 9 squares (towards h for White, a for Black),
  // then 7 squares; the masks stop wrap-around at the board edge.
  static constexpr int STEP9 = US == WHITE ? 9 : -9;
  static constexpr int STEP7 = US == WHITE ? 7 : -7;
  static constexpr u64 up(u64 b) { return US == WHITE ? b << 8 : b >> 8; }
  static constexpr u64 cap9(u64 p) { return US == WHITE ? (p & ~FILE_H) << 9 : (p & ~FILE_A) >> 9; }
  static constexpr u64 cap7(u64 p) { return US == WHITE ? (p & ~FILE_A) << 7 : (p & ~FILE_H) >> 7; }
  static constexpr int PAWN_CODE = WHITE_PAWN + US;
  static constexpr int KNIGHT_CODE = WHITE_KNIGHT + US;
  static constexpr int BISHOP_CODE = WHITE_BISHOP + US;
  static constexpr int ROOK_CODE = WHITE_ROOK + US;
  static constexpr int QUEEN_CODE = WHITE_QUEEN + US;
  static constexpr int KING_CODE = WHITE_KING + US;
};

// Only sliders can be uncovered by moving a piece off a line to the king.
inline bool sliderAttacks(const board& b, int sq, int them, u64 occ, u64 ignore) {
  u64 queens = b.pieceBB[WHITE_QUEEN + them];
  return (bishopAttacks(sq, occ) & (b.pieceBB[WHITE_BISHOP + them] | queens) & ~ignore) ||
         (rookAttacks(sq, occ) & (b.pieceBB[WHITE_ROOK + them] | queens) & ~ignore);
}

// Pieces (of either colour) that stand alone between the king and an enemy
// slider on its line.
template <int US>
inline u64 pinnedPieces(const board& b, int ksq, u64 occ) {
  constexpr int THEM = US ^ 1;
  u64 queens = b.pieceBB[WHITE_QUEEN + THEM];
  u64 snipers = (diagonalRays[ksq] & (b.pieceBB[WHITE_BISHOP + THEM] | queens)) |
                (orthogonalRays[ksq] & (b.pieceBB[WHITE_ROOK + THEM] | queens));
  u64 pinned = 0;
  while (snipers) {
    u64 inBetween = between[ksq][popLsb(snipers)] & occ;
    if (inBetween && !(inBetween & (inBetween - 1))) pinned |= inBetween;
  }
  return pinned;
}

template <int US>
inline u64 storeMovable(board& b, u8 ply, int ksq, u64 occ) {
  u64 movable = ~(b.pieceBB[US] & pinnedPieces<US>(b, ksq, occ));
  b.plies[ply].movable = movable;
  return movable;
}

inline void finishList(board& b, u8 ply, chessMove* out) {
  b.plies[ply].listEnd = out;
  b.plies[ply + 1].listStart = out;
}

inline chessMove* addPromotions(chessMove* out, int from, int to, int score) {
  out[0] = makeChessMove(from, to, PROMOTE_QUEEN, score);
  out[1] = makeChessMove(from, to, PROMOTE_ROOK, score);
  out[2] = makeChessMove(from, to, PROMOTE_BISHOP, score);
  out[3] = makeChessMove(from, to, PROMOTE_KNIGHT, score);
  return out + 4;
}

enum promoMode { FULL_PROMOTIONS, QUEEN_PROMOTIONS };

// One pass of pawn captures along one diagonal: last-rank landings first.
// fixedScore >= 0 gives every move that score (evasions); otherwise the
// score comes from the victim.
template <int US, promoMode MODE>
inline chessMove* pawnCapturePass(chessMove* out, const board& b, u64 targets, int step, int fixedScore) {
  u64 promos = targets & side<US>::LAST_RANK;
  u64 rest = targets & ~side<US>::LAST_RANK;
  while (promos) {
    int to = popLsb(promos);
    int score = fixedScore >= 0 ? fixedScore : captureScore(b.pieceOn[to], 14);
    if (MODE == FULL_PROMOTIONS)
      out = addPromotions(out, to - step, to, score);
    else
      *out++ = makeChessMove(to - step, to, PROMOTE_QUEEN, score);
  }
  while (rest) {
    int to = popLsb(rest);
    int score = fixedScore >= 0 ? fixedScore : captureScore(b.pieceOn[to], 2);
    *out++ = makeChessMove(to - step, to, MOVE_NORMAL, score);
  }
  return out;
}

template <int US, promoMode MODE>
inline chessMove* pawnCaptures(chessMove* out, const board& b, u64 pawns, u64 targets, int fixedScore = -1) {
  using S = side<US>;
  out = pawnCapturePass<US, MODE>(out, b, S::cap9(pawns) & targets, S::STEP9, fixedScore);
  return pawnCapturePass<US, MODE>(out, b, S::cap7(pawns) & targets, S::STEP7, fixedScore);
}

// En passant: `to` is the pawn that has just advanced two squares. The
// landing square must be empty: a FEN text can name an en-passant square
// whose landing square is occupied, and moving onto it would break the board.
template <int US>
inline chessMove* enPassant(chessMove* out, const board& b, int epSq, u64 pawns, int score) {
  u64 from = epNeighbours[epSq] & pawns;
  if (!from || b.pieceOn[epSq + side<US>::UP]) return out;
  while (from) *out++ = makeChessMove(popLsb(from), epSq, EN_PASSANT, score);
  return out;
}

// Chess960 castling on one side, the right held and the check flag aside:
// the squares it needs empty, and the king's way not attacked with the rook
// lifted off the board.
template <int US>
[[gnu::noinline]] bool castleOpen960(const board& b, int i, u64 occ) {
  const castlingSetup& c = b.castling;
  if (occ & c.mustBeEmpty[i]) return false;
  const u64 seen = occ ^ bit(c.rookFrom[i]);
  for (u64 path = c.kingPath[i]; path;)
    if (squareAttacked(b, popLsb(path), US ^ 1, seen)) return false;
  return true;
}

// Castling on one side, the check flag aside. Standard chess keeps its own
// constant squares: this runs at every node of perft and the search.
template <int US, bool SHORT>
inline bool castleOpen(const board& b, int rights, u64 occ) {
  constexpr int i = castleIndex(US, SHORT);
  if (!(rights & (1 << i))) return false;
  constexpr int base = US == WHITE ? 0 : 56;
  constexpr u64 empty = SHORT ? bit(base + 5) | bit(base + 6) : bit(base + 1) | bit(base + 2) | bit(base + 3);
  return !(occ & empty) && !squareAttacked(b, SHORT ? base + 5 : base + 3, US ^ 1, occ);
}

template <int US, bool SHORT>
inline bool castleOpenAny(const board& b, int rights, u64 occ) {
  if (!(rights & (1 << castleIndex(US, SHORT)))) return false;
  return castleOpen960<US>(b, castleIndex(US, SHORT), occ);
}

enum pieceKind { KNIGHT_MOVES, BISHOP_MOVES, ROOK_MOVES, QUEEN_MOVES, KING_MOVES };

template <pieceKind K>
inline u64 pieceTargets(int from, u64 occ) {
  if constexpr (K == KNIGHT_MOVES) return knightAttacks[from];
  if constexpr (K == BISHOP_MOVES) return bishopAttacks(from, occ);
  if constexpr (K == ROOK_MOVES) return rookAttacks(from, occ);
  if constexpr (K == QUEEN_MOVES) return queenAttacks(from, occ);
  return kingAttacks[from];
}

// Captures of one piece kind: pieces from the lowest square, each piece's
// victims from the lowest square.
template <pieceKind K>
inline chessMove* pieceCaptures(chessMove* out, const board& b, u64 pieces, u64 occ, u64 targets, int offset) {
  while (pieces) {
    int from = popLsb(pieces);
    u64 t = pieceTargets<K>(from, occ) & targets;
    while (t) {
      int to = popLsb(t);
      *out++ = makeChessMove(from, to, MOVE_NORMAL, captureScore(b.pieceOn[to], offset));
    }
  }
  return out;
}

template <pieceKind K>
inline chessMove* pieceQuiets(chessMove* out, u64 pieces, u64 occ, u64 empty) {
  while (pieces) {
    int from = popLsb(pieces);
    u64 t = pieceTargets<K>(from, occ) & empty;
    while (t) *out++ = makeChessMove(from, popLsb(t), MOVE_NORMAL, 0);
  }
  return out;
}

// Captures of the checker (capScore) or moves onto the blocking squares.
template <pieceKind K>
inline chessMove* pieceEvasions(chessMove* out, u64 pieces, u64 occ, u64 block, int checker, int capScore,
                                int blockScore) {
  u64 targets = block | bit(checker);
  while (pieces) {
    int from = popLsb(pieces);
    u64 t = pieceTargets<K>(from, occ) & targets;
    while (t) {
      int to = popLsb(t);
      *out++ = makeChessMove(from, to, MOVE_NORMAL, to == checker ? capScore : blockScore);
    }
  }
  return out;
}

template <int US>
chessMove* evasions(u8 ply, chessMove* out, board& b) {
  using S = side<US>;
  constexpr int THEM = S::THEM;
  const u64 kings = b.pieceBB[S::KING_CODE];
  // Without a king there is nothing to be in check; a caller's flag aside.
  if (!kings) return out;
  const int ksq = lsb(kings);
  const u64 occ = occupancy(b);
  const u64 ours = b.pieceBB[US];
  const u64 queens = b.pieceBB[WHITE_QUEEN + THEM];
  const u64 checkers = (bishopAttacks(ksq, occ) & (b.pieceBB[WHITE_BISHOP + THEM] | queens)) |
                       (rookAttacks(ksq, occ) & (b.pieceBB[WHITE_ROOK + THEM] | queens)) |
                       (pawnAttackers[THEM][ksq] & b.pieceBB[WHITE_PAWN + THEM]) |
                       (knightAttacks[ksq] & b.pieceBB[WHITE_KNIGHT + THEM]);

  // King steps: the king leaves the occupancy so that a slider's ray is
  // seen through the square it stands on now.
  const u64 occNoKing = occ ^ bit(ksq);
  u64 steps = kingAttacks[ksq] & ~ours;
  while (steps) {
    int to = popLsb(steps);
    if (squareAttacked(b, to, THEM, occNoKing)) continue;
    int victim = b.pieceOn[to];
    int score = !victim ? 202 : ((victim - (checkers == bit(to) ? 35 : 36)) & 0xFF);
    *out++ = makeChessMove(ksq, to, MOVE_NORMAL, score);
  }
  // Double check (or an attack by the king alone): only the king can move.
  if (!checkers || (checkers & (checkers - 1))) return out;

  const int checker = lsb(checkers);
  const u64 block = between[ksq][checker];
  const u64 movable = b.plies[ply].movable;
  const u64 pawns = b.pieceBB[S::PAWN_CODE] & movable;

  out = pawnCaptures<US, FULL_PROMOTIONS>(out, b, pawns, checkers, PAWN_TAKES_CHECKER_SCORE);
  if (b.plies[ply].epSquare == checker && checker != 0) {
    // Unlike every other evasion, en passant empties a square (the checker's)
    // without filling it: a slider behind the checker may now see the king.
    chessMove* const first = out;
    out = enPassant<US>(out, b, checker, pawns, PAWN_TAKES_CHECKER_SCORE);
    for (chessMove* m = first; m < out;) {
      const u64 after = occ ^ bit(moveFrom(*m)) ^ bit(checker) ^ bit(checker + S::UP);
      if (sliderAttacks(b, ksq, THEM, after, 0))
        *m = *--out;
      else
        ++m;
    }
  }

  const u64 empty = ~occ;
  const u64 single = S::up(pawns) & empty;
  u64 promos = single & block & S::LAST_RANK;
  while (promos) {
    int to = popLsb(promos);
    out = addPromotions(out, to - S::UP, to, 210);
  }
  u64 steps1 = single & block & ~S::LAST_RANK;
  while (steps1) {
    int to = popLsb(steps1);
    *out++ = makeChessMove(to - S::UP, to, MOVE_NORMAL, 210);
  }
  u64 steps2 = S::up(single & S::DOUBLE_RANK) & block;
  while (steps2) {
    int to = popLsb(steps2);
    *out++ = makeChessMove(to - 2 * S::UP, to, DOUBLE_PUSH, 210);
  }

  out = pieceEvasions<KNIGHT_MOVES>(out, b.pieceBB[S::KNIGHT_CODE] & movable, occ, block, checker, 236, 206);
  out = pieceEvasions<BISHOP_MOVES>(out, b.pieceBB[S::BISHOP_CODE] & movable, occ, block, checker, 235, 205);
  out = pieceEvasions<ROOK_MOVES>(out, b.pieceBB[S::ROOK_CODE] & movable, occ, block, checker, 234, 204);
  out = pieceEvasions<QUEEN_MOVES>(out, b.pieceBB[S::QUEEN_CODE] & movable, occ, block, checker, 233, 203);
  return out;
}

template <int US>
void captures(u8 ply, chessMove* out, board& b) {
  using S = side<US>;
  plyState& p = b.plies[ply];
  const u64 occ = occupancy(b);
  const u64 movable = storeMovable<US>(b, ply, kingSquare(b, US), occ);
  if (p.inCheck) {
    p.stage = STAGE_EVASIONS;
    finishList(b, ply, evasions<US>(ply, out, b));
    return;
  }
  const u64 theirs = b.pieceBB[S::THEM];
  const u64 pawns = b.pieceBB[S::PAWN_CODE];
  out = pawnCaptures<US, FULL_PROMOTIONS>(out, b, pawns, theirs);
  out = pieceCaptures<KNIGHT_MOVES>(out, b, b.pieceBB[S::KNIGHT_CODE] & movable, occ, theirs, 4);
  out = pieceCaptures<BISHOP_MOVES>(out, b, b.pieceBB[S::BISHOP_CODE], occ, theirs, 6);
  out = pieceCaptures<ROOK_MOVES>(out, b, b.pieceBB[S::ROOK_CODE], occ, theirs, 8);
  out = pieceCaptures<QUEEN_MOVES>(out, b, b.pieceBB[S::QUEEN_CODE], occ, theirs, 10);
  if (p.epSquare) out = enPassant<US>(out, b, p.epSquare, pawns, 14);
  out = pieceCaptures<KING_MOVES>(out, b, b.pieceBB[S::KING_CODE], occ, theirs, 12);
  finishList(b, ply, out);
}

template <int US>
void quiets(u8 ply, chessMove* out, board& b) {
  using S = side<US>;
  const plyState& p = b.plies[ply];
  const u64 occ = occupancy(b);
  const u64 empty = ~occ;
  const u64 movable = p.movable;

  const u64 single = S::up(b.pieceBB[S::PAWN_CODE]) & empty;
  u64 promos = single & S::LAST_RANK;
  while (promos) {
    int to = popLsb(promos);
    out = addPromotions(out, to - S::UP, to, 0);
  }
  u64 steps1 = single & ~S::LAST_RANK;
  while (steps1) {
    int to = popLsb(steps1);
    *out++ = makeChessMove(to - S::UP, to, MOVE_NORMAL, 0);
  }
  u64 steps2 = S::up(single & S::DOUBLE_RANK) & empty;
  while (steps2) {
    int to = popLsb(steps2);
    *out++ = makeChessMove(to - 2 * S::UP, to, DOUBLE_PUSH, 0);
  }

  // Castling: the right implies king and rook at home; the king's square is
  // covered by the check flag and, in standard chess, its destination by
  // isLegal.
  const int rights = p.castleRights;
  if (!p.inCheck && (rights & (5 << US))) {
    constexpr int base = US == WHITE ? 0 : 56;
    const int king = b.castling.kingFrom[US];
    if (!b.castling.chess960) {
      if (castleOpen<US, true>(b, rights, occ)) *out++ = makeChessMove(king, base + 6, CASTLE_SHORT, 0);
      if (castleOpen<US, false>(b, rights, occ)) *out++ = makeChessMove(king, base + 2, CASTLE_LONG, 0);
    } else {
      if (castleOpenAny<US, true>(b, rights, occ)) *out++ = makeChessMove(king, base + 6, CASTLE_SHORT, 0);
      if (castleOpenAny<US, false>(b, rights, occ)) *out++ = makeChessMove(king, base + 2, CASTLE_LONG, 0);
    }
  }

  out = pieceQuiets<KNIGHT_MOVES>(out, b.pieceBB[S::KNIGHT_CODE] & movable, occ, empty);
  out = pieceQuiets<BISHOP_MOVES>(out, b.pieceBB[S::BISHOP_CODE], occ, empty);
  out = pieceQuiets<ROOK_MOVES>(out, b.pieceBB[S::ROOK_CODE], occ, empty);
  out = pieceQuiets<QUEEN_MOVES>(out, b.pieceBB[S::QUEEN_CODE], occ, empty);
  out = pieceQuiets<KING_MOVES>(out, b.pieceBB[S::KING_CODE], occ, empty);
  finishList(b, ply, out);
}

template <int US>
void quiesceCaptures(u8 ply, chessMove* out, board& b) {
  using S = side<US>;
  plyState& p = b.plies[ply];
  const u64 occ = occupancy(b);
  const u64 movable = storeMovable<US>(b, ply, kingSquare(b, US), occ);
  if (p.inCheck) {
    finishList(b, ply, evasions<US>(ply, out, b));
    return;
  }
  const u64 theirs = b.pieceBB[S::THEM];
  const u64 pawns = b.pieceBB[S::PAWN_CODE];
  out = pawnCaptures<US, QUEEN_PROMOTIONS>(out, b, pawns, theirs);
  out = pieceCaptures<KNIGHT_MOVES>(out, b, b.pieceBB[S::KNIGHT_CODE] & movable, occ, theirs, 4);
  out = pieceCaptures<BISHOP_MOVES>(out, b, b.pieceBB[S::BISHOP_CODE], occ, theirs, 6);
  out = pieceCaptures<ROOK_MOVES>(out, b, b.pieceBB[S::ROOK_CODE], occ, theirs, 8);
  out = pieceCaptures<QUEEN_MOVES>(out, b, b.pieceBB[S::QUEEN_CODE], occ, theirs, 10);
  out = pieceCaptures<KING_MOVES>(out, b, b.pieceBB[S::KING_CODE], occ, theirs, 12);
  if (p.epSquare) out = enPassant<US>(out, b, p.epSquare, pawns, 14);
  u64 promos = S::up(pawns) & ~occ & S::LAST_RANK;
  while (promos) {
    int to = popLsb(promos);
    *out++ = makeChessMove(to - S::UP, to, PROMOTE_QUEEN, 1);
  }
  finishList(b, ply, out);
}

template <int US>
void recaptures(u8 ply, chessMove* out, board& b) {
  using S = side<US>;
  plyState& p = b.plies[ply];
  const u64 occ = occupancy(b);
  storeMovable<US>(b, ply, kingSquare(b, US), occ);
  if (p.inCheck) {
    finishList(b, ply, evasions<US>(ply, out, b));
    return;
  }
  // The root has no previous move to answer.
  if (ply == 0) {
    finishList(b, ply, out);
    return;
  }
  const int t = moveTo(b.plies[ply - 1].currentMove) & 63;
  const u64 target = bit(t) & b.pieceBB[S::THEM];
  const u64 pawns = b.pieceBB[S::PAWN_CODE];
  if (target) {
    out = pawnCaptures<US, QUEEN_PROMOTIONS>(out, b, pawns, target);
    const int victim = b.pieceOn[t];
    const u64 diagonal = bishopAttacks(t, occ);
    const u64 straight = rookAttacks(t, occ);
    struct group {
      u64 pieces;
      int offset;
    };
    const group groups[] = {{knightAttacks[t] & b.pieceBB[S::KNIGHT_CODE], 4},
                            {diagonal & b.pieceBB[S::BISHOP_CODE], 6},
                            {straight & b.pieceBB[S::ROOK_CODE], 8},
                            {(diagonal | straight) & b.pieceBB[S::QUEEN_CODE], 10},
                            {kingAttacks[t] & b.pieceBB[S::KING_CODE], 12}};
    for (const group& g : groups) {
      u64 pieces = g.pieces;
      while (pieces) *out++ = makeChessMove(popLsb(pieces), t, MOVE_NORMAL, captureScore(victim, g.offset));
    }
  }
  if (p.epSquare == t && t != 0) out = enPassant<US>(out, b, t, pawns, 14);
  finishList(b, ply, out);
}

// Legality of a pseudo-legal move of a side not in check.
inline bool legalMove(chessMove m, const board& b, int us, int ksq, u64 occ, u64 movable) {
  const int from = moveFrom(m) & 63, to = moveTo(m) & 63;
  const int them = us ^ 1;
  if (b.pieceOn[from] == WHITE_KING + us) return !squareAttacked(b, to, them, (occ ^ bit(from)) | bit(to));
  if (moveKindOf(m) == EN_PASSANT) {
    int landing = us == WHITE ? to + 8 : to - 8;
    return !sliderAttacks(b, ksq, them, occ ^ bit(from) ^ bit(to) ^ bit(landing & 63), 0);
  }
  if (movable & bit(from)) return true;
  return !sliderAttacks(b, ksq, them, (occ ^ bit(from)) | bit(to), bit(to));
}

// Steps 1-3 of the legal generators: check flag, captures or evasions, quiets.
inline void generateAll(u8 ply, chessMove* out, board& b) {
  const int us = b.sideToMove;
  b.plies[ply].inCheck = kingAttacked(b, us) ? 1 : 0;
  generateCaptures(ply, out, b);
  if (!b.plies[ply].inCheck) generateQuiets(ply, b.plies[ply].listEnd, b);
}

// The count of the full pseudo-legal list that passes legalMove, written
// out move by move. Exact for any set-up, kingless ones included.
unsigned countByList(u8 ply, chessMove* out, board& b) {
  generateAll(ply, out, b);
  const plyState& p = b.plies[ply];
  if (p.inCheck) return unsigned(p.listEnd - out);
  const int us = b.sideToMove;
  const int ksq = kingSquare(b, us);
  const u64 occ = occupancy(b);
  const u64 movable = p.movable;
  unsigned n = 0;
  for (const chessMove* m = out; m != p.listEnd; ++m) n += legalMove(*m, b, us, ksq, occ, movable);
  return n;
}

// Moves of one pinned piece that keep every enemy slider off the king (a
// slider standing on the target is taken). Each promotion counts four.
template <int US>
unsigned countPinnedMoves(const board& b, int from, int ksq, u64 occ) {
  using S = side<US>;
  const int code = b.pieceOn[from];
  const u64 notOurs = ~b.pieceBB[US];
  u64 targets = 0, promotions = 0;
  if (code == S::PAWN_CODE) {
    const u64 pawn = bit(from);
    const u64 single = S::up(pawn) & ~occ;
    targets = ((S::cap9(pawn) | S::cap7(pawn)) & b.pieceBB[S::THEM]) | single |
              (S::up(single & S::DOUBLE_RANK) & ~occ);
    promotions = targets & S::LAST_RANK;
    targets &= ~S::LAST_RANK;
  } else if (code == S::BISHOP_CODE) {
    targets = bishopAttacks(from, occ) & notOurs;
  } else if (code == S::ROOK_CODE) {
    targets = rookAttacks(from, occ) & notOurs;
  } else if (code == S::QUEEN_CODE) {
    targets = queenAttacks(from, occ) & notOurs;
  }  // a pinned knight has no move at all
  unsigned n = 0;
  const u64 without = occ ^ bit(from);
  while (targets) {
    int to = popLsb(targets);
    n += !sliderAttacks(b, ksq, S::THEM, without | bit(to), bit(to));
  }
  while (promotions) {
    int to = popLsb(promotions);
    n += 4 * !sliderAttacks(b, ksq, S::THEM, without | bit(to), bit(to));
  }
  return n;
}

// Perft's last ply: the same count as the list filtered by legalMove, taken
// from the target sets by population counts instead of writing each move.
// Pieces off the pin lines always have legal moves; pinned pieces, king
// steps, castling and en passant are tested one by one as the filter would.
template <int US>
unsigned countFast(u8 ply, chessMove* out, board& b) {
  using S = side<US>;
  constexpr int THEM = S::THEM;
  plyState& p = b.plies[ply];
  const u64 kings = b.pieceBB[S::KING_CODE];
  if (!kings || (kings & (kings - 1))) return countByList(ply, out, b);
  const int ksq = lsb(kings);
  const u64 occ = occupancy(b);
  p.inCheck = squareAttacked(b, ksq, THEM, occ) ? 1 : 0;
  if (p.inCheck) {
    captures<US>(ply, out, b);
    return unsigned(p.listEnd - out);
  }
  const u64 ours = b.pieceBB[US];
  const u64 pinned = ours & pinnedPieces<US>(b, ksq, occ);
  p.movable = ~pinned;
  const u64 notOurs = ~ours;
  const u64 empty = ~occ;
  const u64 theirs = b.pieceBB[THEM];

  const u64 pawns = b.pieceBB[S::PAWN_CODE] & ~pinned;
  const u64 c9 = S::cap9(pawns) & theirs, c7 = S::cap7(pawns) & theirs;
  const u64 single = S::up(pawns) & empty;
  const u64 twice = S::up(single & S::DOUBLE_RANK) & empty;
  unsigned n = popCount(c9 & ~S::LAST_RANK) + popCount(c7 & ~S::LAST_RANK) + popCount(single & ~S::LAST_RANK) +
               popCount(twice) +
               4 * (popCount(c9 & S::LAST_RANK) + popCount(c7 & S::LAST_RANK) + popCount(single & S::LAST_RANK));

  u64 pieces = b.pieceBB[S::KNIGHT_CODE] & ~pinned;
  while (pieces) n += popCount(knightAttacks[popLsb(pieces)] & notOurs);
  pieces = b.pieceBB[S::BISHOP_CODE] & ~pinned;
  while (pieces) n += popCount(bishopAttacks(popLsb(pieces), occ) & notOurs);
  pieces = b.pieceBB[S::ROOK_CODE] & ~pinned;
  while (pieces) n += popCount(rookAttacks(popLsb(pieces), occ) & notOurs);
  pieces = b.pieceBB[S::QUEEN_CODE] & ~pinned;
  while (pieces) n += popCount(queenAttacks(popLsb(pieces), occ) & notOurs);

  pieces = pinned;
  while (pieces) n += countPinnedMoves<US>(b, popLsb(pieces), ksq, occ);

  if (p.epSquare) {
    const int ep = p.epSquare;
    u64 from = epNeighbours[ep] & b.pieceBB[S::PAWN_CODE];
    if (from && !b.pieceOn[ep + S::UP]) {
      const u64 cleared = occ ^ bit(ep) ^ bit(ep + S::UP);
      while (from) n += !sliderAttacks(b, ksq, THEM, cleared ^ bit(popLsb(from)), 0);
    }
  }

  const u64 occNoKing = occ ^ bit(ksq);
  u64 steps = kingAttacks[ksq] & notOurs;
  while (steps) {
    int to = popLsb(steps);
    n += !squareAttacked(b, to, THEM, occNoKing | bit(to));
  }

  const int rights = p.castleRights;
  if (rights & (5 << US)) {
    constexpr int base = US == WHITE ? 0 : 56;
    if (!b.castling.chess960) {
      if (castleOpen<US, true>(b, rights, occ)) n += !squareAttacked(b, base + 6, THEM, occNoKing | bit(base + 6));
      if (castleOpen<US, false>(b, rights, occ)) n += !squareAttacked(b, base + 2, THEM, occNoKing | bit(base + 2));
    } else {
      // The king's landing square was tested with the rook lifted.
      n += castleOpenAny<US, true>(b, rights, occ);
      n += castleOpenAny<US, false>(b, rights, occ);
    }
  }
  return n;
}

}  // namespace

void generateCaptures(u8 ply, chessMove* out, board& b) {
  if (b.sideToMove == WHITE)
    captures<WHITE>(ply, out, b);
  else
    captures<BLACK>(ply, out, b);
}

void generateQuiets(u8 ply, chessMove* out, board& b) {
  if (b.sideToMove == WHITE)
    quiets<WHITE>(ply, out, b);
  else
    quiets<BLACK>(ply, out, b);
}

void generateQuiesceCaptures(u8 ply, chessMove* out, board& b) {
  if (b.sideToMove == WHITE)
    quiesceCaptures<WHITE>(ply, out, b);
  else
    quiesceCaptures<BLACK>(ply, out, b);
}

void generateRecaptures(u8 ply, chessMove* out, board& b) {
  if (b.sideToMove == WHITE)
    recaptures<WHITE>(ply, out, b);
  else
    recaptures<BLACK>(ply, out, b);
}

bool isLegal(chessMove m, const board& b, u8 ply) {
  const int us = b.sideToMove;
  return legalMove(m, b, us, kingSquare(b, us), occupancy(b), b.plies[ply].movable);
}

void generateLegal(u8 ply, chessMove* out, board& b) {
  generateAll(ply, out, b);
  plyState& p = b.plies[ply];
  if (p.inCheck) return;
  const int us = b.sideToMove;
  const int ksq = kingSquare(b, us);
  const u64 occ = occupancy(b);
  const u64 movable = p.movable;
  // Compact in place: an illegal move is replaced by the last one, and the
  // same place is tested again.
  long cursor = 0, count = p.listEnd - out;
  while (cursor < count) {
    if (legalMove(out[cursor], b, us, ksq, occ, movable)) {
      ++cursor;
    } else {
      --count;
      chessMove t = out[cursor];
      out[cursor] = out[count];
      out[count] = t;
    }
  }
  finishList(b, ply, out + count);
}

unsigned countLegal(u8 ply, chessMove* out, board& b) {
  return b.sideToMove == WHITE ? countFast<WHITE>(ply, out, b) : countFast<BLACK>(ply, out, b);
}

namespace {

bool isCastleKind(int kind) { return kind == CASTLE_SHORT || kind == CASTLE_LONG; }

// The generator's castling conditions, read from the game's castling set-up.
bool castlePlausible(const board& b, u8 ply, int from, int to, int kind, int us) {
  const plyState& ps = b.plies[ply];
  if (ps.inCheck) return false;
  const castlingSetup& c = b.castling;
  const bool isShort = kind == CASTLE_SHORT;
  const int i = castleIndex(us, isShort);
  const int base = us == WHITE ? 0 : 56;
  if (from != c.kingFrom[us] || to != base + (isShort ? 6 : 2) || !(ps.castleRights & (1 << i))) return false;
  const u64 occ = occupancy(b);
  if (occ & c.mustBeEmpty[i]) return false;
  if (b.pieceOn[c.rookFrom[i]] != pieceCode(ROOK, us)) return false;
  const u64 seen = occ ^ bit(c.rookFrom[i]);
  for (u64 path = c.kingPath[i]; path;)
    if (squareAttacked(b, popLsb(path), us ^ 1, seen)) return false;
  return true;
}

bool pawnPlausible(const board& b, u8 ply, int from, int to, int kind, int us) {
  const int forward = us == WHITE ? 8 : -8;
  const int target = b.pieceOn[to];
  if (from < 8 || from > 55) return false;
  if (kind == DOUBLE_PUSH) {
    int startRank = us == WHITE ? 1 : 6;
    return (from >> 3) == startRank && to == from + 2 * forward && !target && !b.pieceOn[from + forward];
  }
  if (kind == EN_PASSANT) {
    int ep = b.plies[ply].epSquare;
    int landing = to + forward;
    return ep != 0 && to == ep && (epNeighbours[ep] & bit(from)) && target == pieceCode(PAWN, us ^ 1) &&
           landing >= 0 && landing < 64 && !b.pieceOn[landing];
  }
  if (kind != MOVE_NORMAL && !isPromotion(kind)) return false;
  // A pawn reaching the last rank must promote, and only there.
  bool lastRank = (to >> 3) == (us == WHITE ? 7 : 0);
  if (isPromotion(kind) != lastRank) return false;
  if (to == from + forward) return !target;
  return target && (pawnAttackers[us][to] & bit(from));
}

}  // namespace

bool isPseudoLegal(chessMove m, const board& b, u8 ply) {
  if (m == 0) return false;
  int from = moveFrom(m), to = moveTo(m), kind = moveKindOf(m);
  if (from >= 64 || to >= 64) return false;
  int us = b.sideToMove;
  int mover = b.pieceOn[from];
  if (mover < 2 || int(m >> 24) != mover || colourOf(mover) != us) return false;
  // A Chess960 king may castle without moving, or onto its rook's square.
  if (isCastleKind(kind)) return typeOf(mover) == KING && castlePlausible(b, ply, from, to, kind, us);
  if (from == to) return false;
  int target = b.pieceOn[to];
  if (target && (colourOf(target) == us || typeOf(target) == KING)) return false;
  int type = typeOf(mover);
  if (type == PAWN) return pawnPlausible(b, ply, from, to, kind, us);
  if (kind != MOVE_NORMAL) return false;
  u64 occ = occupancy(b);
  u64 reach = 0;
  switch (type) {
    case KNIGHT: reach = knightAttacks[from]; break;
    case BISHOP: reach = bishopAttacks(from, occ); break;
    case ROOK: reach = rookAttacks(from, occ); break;
    case QUEEN: reach = queenAttacks(from, occ); break;
    default: reach = kingAttacks[from]; break;
  }
  return (reach & bit(to)) != 0;
}
