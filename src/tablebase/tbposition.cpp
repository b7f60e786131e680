#include "tablebase/tbposition.h"

#include "board/attacks.h"

namespace {

constexpr u64 RANK_1 = 0xFFull, RANK_8 = 0xFFull << 56;

u64 ourPieces(const tbPosition& pos) { return pos.turn ? pos.white : pos.black; }
u64 theirPieces(const tbPosition& pos) { return pos.turn ? pos.black : pos.white; }

// Pawn moves onto the last rank become four promotions: Q, N, R, B.
tbMove* addPawnMove(tbMove* out, int from, int to) {
  if (bit(to) & (RANK_1 | RANK_8)) {
    *out++ = makeTbMove(from, to, 1);
    *out++ = makeTbMove(from, to, 4);
    *out++ = makeTbMove(from, to, 2);
    *out++ = makeTbMove(from, to, 3);
  } else {
    *out++ = makeTbMove(from, to);
  }
  return out;
}

tbMove* addTargets(tbMove* out, int from, u64 targets) {
  while (targets) *out++ = makeTbMove(from, popLsb(targets));
  return out;
}

// King, queen, rook, bishop and knight moves of us onto `mask`.
tbMove* addPieceMoves(const tbPosition& pos, tbMove* out, u64 mask) {
  const u64 us = ourPieces(pos), occ = pos.white | pos.black;
  u64 b = pos.kings & us;
  while (b) {
    int sq = popLsb(b);
    out = addTargets(out, sq, kingAttacks[sq] & mask);
  }
  b = pos.queens & us;
  while (b) {
    int sq = popLsb(b);
    out = addTargets(out, sq, queenAttacks(sq, occ) & mask);
  }
  b = pos.rooks & us;
  while (b) {
    int sq = popLsb(b);
    out = addTargets(out, sq, rookAttacks(sq, occ) & mask);
  }
  b = pos.bishops & us;
  while (b) {
    int sq = popLsb(b);
    out = addTargets(out, sq, bishopAttacks(sq, occ) & mask);
  }
  b = pos.knights & us;
  while (b) {
    int sq = popLsb(b);
    out = addTargets(out, sq, knightAttacks[sq] & mask);
  }
  return out;
}

// Is square `sq` attacked by the pieces of `attackers` (a colour set)?
bool attackedBy(const tbPosition& pos, int sq, u64 attackers, bool attackerIsWhite) {
  const u64 occ = pos.white | pos.black;
  if (kingAttacks[sq] & pos.kings & attackers) return true;
  if (rookAttacks(sq, occ) & (pos.rooks | pos.queens) & attackers) return true;
  if (bishopAttacks(sq, occ) & (pos.bishops | pos.queens) & attackers) return true;
  if (knightAttacks[sq] & pos.knights & attackers) return true;
  // A pawn of the attacker's colour attacks sq from the squares that a pawn
  // of the other colour on sq would attack.
  return (tbPawnAttacks[attackerIsWhite ? 0 : 1][sq] & pos.pawns & attackers) != 0;
}

}  // namespace

u64 tbPieces(const tbPosition& pos, int code) {
  u64 colour;
  if (code >= 1 && code <= 6)
    colour = pos.white;
  else if (code >= 9 && code <= 14)
    colour = pos.black;
  else
    return 0;
  switch (code & 7) {
    case 1: return pos.pawns & colour;
    case 2: return pos.knights & colour;
    case 3: return pos.bishops & colour;
    case 4: return pos.rooks & colour;
    case 5: return pos.queens & colour;
    default: return pos.kings & colour;
  }
}

bool tbIsEpCapture(const tbPosition& pos, tbMove m) {
  return pos.ep != 0 && tbMoveTo(m) == pos.ep && (bit(tbMoveFrom(m)) & pos.pawns & ourPieces(pos));
}

tbMove* tbGenCaptures(const tbPosition& pos, tbMove* out) {
  const u64 us = ourPieces(pos), them = theirPieces(pos), occ = pos.white | pos.black;
  out = addPieceMoves(pos, out, them);
  const int c = pos.turn ? 1 : 0;
  const int ahead = pos.turn ? 8 : -8;
  const u64 seventh = pos.turn ? 0xFFull << 48 : 0xFFull << 8;
  u64 b = pos.pawns & us;
  while (b) {
    int sq = popLsb(b);
    const u64 att = tbPawnAttacks[c][sq];
    if (pos.ep && (att & bit(pos.ep))) *out++ = makeTbMove(sq, pos.ep);
    u64 caps = att & them;
    while (caps) out = addPawnMove(out, sq, popLsb(caps));
    if ((bit(sq) & seventh) && !(occ & bit(sq + ahead))) out = addPawnMove(out, sq, sq + ahead);
  }
  return out;
}

tbMove* tbGenPawnQuiets(const tbPosition& pos, tbMove* out) {
  const u64 us = ourPieces(pos), occ = pos.white | pos.black;
  const int ahead = pos.turn ? 8 : -8;
  const u64 startRank = pos.turn ? 0xFFull << 8 : 0xFFull << 48;
  u64 b = pos.pawns & us;
  while (b) {
    int sq = popLsb(b);
    int one = sq + ahead;
    if (one < 0 || one > 63 || (occ & bit(one))) continue;
    out = addPawnMove(out, sq, one);
    if ((bit(sq) & startRank) && !(occ & bit(one + ahead))) *out++ = makeTbMove(sq, one + ahead);
  }
  return out;
}

tbMove* tbGenEpCaptures(const tbPosition& pos, tbMove* out) {
  if (!pos.ep) return out;
  // Our pawns that attack ep stand where a pawn of the other colour on ep would attack.
  u64 b = tbPawnAttacks[pos.turn ? 0 : 1][pos.ep] & pos.pawns & ourPieces(pos);
  while (b) *out++ = makeTbMove(popLsb(b), pos.ep);
  return out;
}

tbMove* tbGenMoves(const tbPosition& pos, tbMove* out) {
  const u64 us = ourPieces(pos), them = theirPieces(pos), occ = pos.white | pos.black;
  out = addPieceMoves(pos, out, ~us);
  const int c = pos.turn ? 1 : 0;
  const int ahead = pos.turn ? 8 : -8;
  const u64 startRank = pos.turn ? 0xFFull << 8 : 0xFFull << 48;
  u64 b = pos.pawns & us;
  while (b) {
    int sq = popLsb(b);
    const u64 att = tbPawnAttacks[c][sq];
    if (pos.ep && (att & bit(pos.ep))) *out++ = makeTbMove(sq, pos.ep);
    u64 targets = att & them;
    int one = sq + ahead;
    if (one >= 0 && one < 64 && !(occ & bit(one))) {
      targets |= bit(one);
      if ((bit(sq) & startRank) && !(occ & bit(one + ahead))) targets |= bit(one + ahead);
    }
    while (targets) out = addPawnMove(out, sq, popLsb(targets));
  }
  return out;
}

bool tbDoMove(tbPosition& child, const tbPosition& pos, tbMove m) {
  const int from = tbMoveFrom(m), to = tbMoveTo(m), promo = tbMovePromo(m);
  const u64 fromBit = bit(from), toBit = bit(to);
  auto move = [&](u64 s) {
    s &= ~toBit;
    if (s & fromBit) s = (s ^ fromBit) | toBit;
    return s;
  };
  child.white = move(pos.white);
  child.black = move(pos.black);
  child.kings = move(pos.kings);
  child.queens = move(pos.queens);
  child.rooks = move(pos.rooks);
  child.bishops = move(pos.bishops);
  child.knights = move(pos.knights);
  child.pawns = move(pos.pawns);
  child.turn = !pos.turn;
  child.ep = 0;

  if (promo) {
    child.pawns &= ~toBit;
    switch (promo) {
      case 1: child.queens |= toBit; break;
      case 2: child.rooks |= toBit; break;
      case 3: child.bishops |= toBit; break;
      default: child.knights |= toBit; break;
    }
    child.rule50 = 0;
  } else if (pos.pawns & fromBit) {
    child.rule50 = 0;
    if (pos.turn && to - from == 16 && (from >> 3) == 1) {
      if (tbPawnAttacks[1][from + 8] & pos.pawns & pos.black) child.ep = u8(from + 8);
    } else if (!pos.turn && from - to == 16 && (from >> 3) == 6) {
      if (tbPawnAttacks[0][from - 8] & pos.pawns & pos.white) child.ep = u8(from - 8);
    } else if (pos.ep && to == pos.ep) {
      const u64 captured = bit(pos.turn ? to - 8 : to + 8);
      child.white &= ~captured;
      child.black &= ~captured;
      child.pawns &= ~captured;
    }
  } else {
    child.rule50 = (toBit & (pos.white | pos.black)) ? 0 : u8(pos.rule50 + 1);
  }
  return tbIsLegal(child);
}

bool tbIsLegal(const tbPosition& pos) {
  // The side that has just moved is the one not on turn.
  const u64 moved = pos.turn ? pos.black : pos.white;
  const u64 king = pos.kings & moved;
  if (!king) return false;
  return !attackedBy(pos, lsb(king), ourPieces(pos), pos.turn);
}

bool tbInCheck(const tbPosition& pos) {
  const u64 king = pos.kings & ourPieces(pos);
  if (!king) return false;
  return attackedBy(pos, lsb(king), theirPieces(pos), !pos.turn);
}

bool tbIsValid(const tbPosition& pos) {
  if (popCount(pos.kings) != 2 || popCount(pos.kings & pos.white) != 1) return false;
  if (pos.white & pos.black) return false;
  const u64 sets[6] = {pos.kings, pos.queens, pos.rooks, pos.bishops, pos.knights, pos.pawns};
  u64 all = 0;
  for (u64 s : sets) {
    if (all & s) return false;
    all |= s;
  }
  if (pos.pawns & (RANK_1 | RANK_8)) return false;
  if (all != (pos.white | pos.black)) return false;
  return tbIsLegal(pos);
}
