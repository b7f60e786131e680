#include "search/ordering.h"

#include <algorithm>

#include "board/attacks.h"
#include "movegen/makemove.h"
#include "movegen/movegen.h"
#include "search/search.h"
#include "search/tuning.h"

const int seeValue[14] = {0, 0, 90, 90, 325, 325, 325, 325, 499, 499, 1005, 1005, 10000, 10000};

namespace {

u64 attackersOf(const board& b, int sq, u64 occ) {
  const u64* p = b.pieceBB;
  return (bishopAttacks(sq, occ) & (p[WHITE_BISHOP] | p[BLACK_BISHOP] | p[WHITE_QUEEN] | p[BLACK_QUEEN])) |
         (rookAttacks(sq, occ) & (p[WHITE_ROOK] | p[BLACK_ROOK] | p[WHITE_QUEEN] | p[BLACK_QUEEN])) |
         (pawnAttackers[WHITE][sq] & p[WHITE_PAWN]) | (pawnAttackers[BLACK][sq] & p[BLACK_PAWN]) |
         (knightAttacks[sq] & (p[WHITE_KNIGHT] | p[BLACK_KNIGHT])) |
         (kingAttacks[sq] & (p[WHITE_KING] | p[BLACK_KING]));
}

// The capture sequence on `to` once the first capture is made: `side`
// recaptures next with its least valuable attacker; `balance` is the first
// capturer's gain should it lose the piece it captured with. True when the
// first capturer comes out without loss.
bool exchangeLoop(const board& b, int to, u64 occ, u64 attackers, int side, int balance) {
  bool result = true;
  if (!(attackers & b.pieceBB[side])) return true;
  for (;;) {
    int code = 0;
    u64 set = 0;
    for (int type = PAWN; type <= KING; ++type) {
      set = attackers & b.pieceBB[pieceCode(type, side)];
      if (set) {
        code = pieceCode(type, side);
        break;
      }
    }
    occ ^= bit(lsb(set));
    int type = typeOf(code);
    if (type == PAWN || type == BISHOP || type == QUEEN)
      attackers |= bishopAttacks(to, occ) & (b.pieceBB[WHITE_BISHOP + side] | b.pieceBB[WHITE_QUEEN + side]);
    if (type == ROOK || type == KING)
      attackers |= rookAttacks(to, occ) & (b.pieceBB[WHITE_ROOK + side] | b.pieceBB[WHITE_QUEEN + side]);
    attackers &= occ;
    // A king may only take when nothing can take it back.
    if (type == KING) return (attackers & b.pieceBB[side ^ 1]) ? result : !result;
    result = !result;
    balance += seeValue[code];
    if (balance < 0) break;
    side ^= 1;
    balance = -balance;
    if (!(attackers & b.pieceBB[side])) break;
  }
  return result;
}

bool isCastle(int kind) { return kind == CASTLE_SHORT || kind == CASTLE_LONG; }

// Exchange filter of the capture stage: cheap when the victim is worth at
// least the mover.
bool goodCapture(const board& b, chessMove m) {
  int kind = moveKindOf(m);
  if (kind == EN_PASSANT || isCastle(kind)) return true;
  if (seeValue[b.pieceOn[moveTo(m)]] >= seeValue[b.pieceOn[moveFrom(m)]]) return true;
  return seeNonNegative(b, m);
}

void applyBonus(i16& h, int bonus) { h = i16(h + bonus - h * bonus / HISTORY_GRAVITY); }
void applyMalus(i16& h, int bonus) { h = i16(h - bonus - h * bonus / HISTORY_GRAVITY); }

void penalise(board& b, chessMove m, int bonus, i16* row2, i16* row1) {
  int code = b.pieceOn[moveFrom(m)];
  if (code < 2) return;
  int idx = (code - 2) * 64 + moveTo(m);
  if (row2) applyMalus(row2[idx], bonus);
  if (row1) applyMalus(row1[idx], bonus);
  applyMalus(b.history[code - 2][moveTo(m)], bonus);
}

// Stands in for a missing move-pair row: it adds nothing to a sum.
const i16 noHistoryRow[HISTORY_ROW] = {};

// The three histories of each quiet move in [first, end), added up.
void historySums(const board& b, const chessMove* first, const chessMove* end, i32* sums, const i16* row2,
                 const i16* row1) {
  const i16* history = &b.history[0][0];
  if (!row2) row2 = noHistoryRow;
  if (!row1) row1 = noHistoryRow;
  for (const chessMove* p = first; p < end; ++p) {
    const int idx = (b.pieceOn[moveFrom(*p)] - 2) * 64 + moveTo(*p);
    *sums++ = history[idx] + row2[idx] + row1[idx];
  }
}

// A remembered move for the killer and counter stages. One that captures
// here is offered as well, although the capture stages hand it out too: it
// only costs a second search of the same move.
bool usableRemembered(const board& b, u8 ply, chessMove m) {
  const plyState& ps = b.plies[ply];
  return m != 0 && !sameMove(m, ps.hashMove) && isPseudoLegal(m, b, ply);
}

chessMove appendRemembered(plyState& ps, chessMove m) {
  *ps.listEnd++ = m;
  ps.cursor = ps.listEnd;
  return m;
}

void removeFromList(plyState& ps, chessMove* from, chessMove m) {
  for (chessMove* p = from; p < ps.listEnd; ++p)
    if (sameMove(*p, m)) {
      *p = *--ps.listEnd;
      return;
    }
}

}  // namespace

bool seeAtLeast(const board& b, chessMove m, int threshold) {
  int kind = moveKindOf(m);
  if (kind == EN_PASSANT || isCastle(kind)) return threshold <= 0;
  int from = moveFrom(m), to = moveTo(m);
  int mover = b.pieceOn[from];
  int balance = seeValue[b.pieceOn[to]] - threshold;
  if (balance < 0) return false;
  balance -= seeValue[mover];
  if (balance >= 0) return true;
  u64 occ = occupancy(b) ^ bit(from) ^ bit(to);
  u64 attackers = attackersOf(b, to, occ) & occ;
  return exchangeLoop(b, to, occ, attackers, colourOf(mover) ^ 1, balance);
}

bool seeNonNegative(const board& b, chessMove m) { return seeAtLeast(b, m, 0); }

bool movedPieceSafe(const board& b, chessMove m, int captured) {
  // The exchange seeNonNegative(m) would see before m, valued with the piece
  // m left on its destination (a promoted piece counts as itself).
  int to = moveTo(m);
  int balance = seeValue[captured] - seeValue[b.pieceOn[to]];
  if (balance >= 0) return true;
  u64 occ = occupancy(b);
  return exchangeLoop(b, to, occ, attackersOf(b, to, occ) & occ, b.sideToMove, balance);
}

void pickHighestScore(chessMove* first, chessMove* end) {
  chessMove* best = first;
  for (chessMove* p = first + 1; p < end; ++p)
    if (moveScore(*p) > moveScore(*best)) best = p;
  std::swap(*first, *best);
}

void demoteLosingEvasions(const board& b, chessMove* first, chessMove* end) {
  for (chessMove* p = first; p < end; ++p) {
    const chessMove m = *p;
    const int kind = moveKindOf(m);
    if (moveScore(m) == PAWN_TAKES_CHECKER_SCORE || typeOf(b.pieceOn[moveFrom(m)]) == KING || kind == EN_PASSANT || isCastle(kind))
      continue;
    if (!seeNonNegative(b, m)) *p = withScore(m, moveScore(m) - LOSING_EVASION_PENALTY);
  }
}

bool hashMoveUsable(chessMove m, board& b, u8 ply) {
  if (!isPseudoLegal(m, b, ply)) return false;
  int us = b.sideToMove;
  makeMove(b, ply, m);
  bool legal = !kingAttacked(b, us);
  unmakeMove(b, ply, m);
  return legal;
}

void preparePicker(board& b, u8 ply, bool hashValid) {
  plyState& ps = b.plies[ply];
  ps.listEnd = ps.listStart;
  ps.cursor = ps.listStart;
  b.plies[ply + 1].listStart = ps.listStart;
  ps.stage = hashValid ? STAGE_HASH_READY : STAGE_HASH;
}

// The picker's cursor is the next slot to look at; the move last handed out
// sits just before it.
chessMove nextMove(u8 ply, board& b, bool inListOrder) {
  plyState& ps = b.plies[ply];
  switch (ps.stage) {
    case STAGE_HASH_READY:
      ps.stage = STAGE_HASH;
      return ps.hashMove;

    case STAGE_HASH:
      generateCaptures(ply, ps.listStart, b);
      ps.cursor = ps.listStart;
      if (ps.stage == STAGE_EVASIONS) {
        demoteLosingEvasions(b, ps.listStart, ps.listEnd);
        goto evasions;
      }
      ps.captureEnd = ps.listEnd;
      b.plies[ply + 1].listStart = ps.listEnd + 3;  // room for two killers and a counter move
      ps.stage = STAGE_CAPTURES;
      [[fallthrough]];

    case STAGE_CAPTURES:
      while (ps.cursor < ps.listEnd) {
        pickHighestScore(ps.cursor, ps.listEnd);
        chessMove m = *ps.cursor;
        if (sameMove(m, ps.hashMove)) {
          ++ps.cursor;
          continue;
        }
        if (!goodCapture(b, m)) {
          *ps.cursor++ = withScore(m, BAD_CAPTURE_MARK);  // handed out after the killers
          continue;
        }
        ++ps.cursor;
        return m;
      }
      [[fallthrough]];

    case STAGE_GOOD_CAPTURES_DONE:
      ps.stage = STAGE_KILLER1;
      if (usableRemembered(b, ply, ps.killer1)) return appendRemembered(ps, ps.killer1);
      [[fallthrough]];

    case STAGE_KILLER1:
      ps.stage = STAGE_KILLER2;
      if (usableRemembered(b, ply, ps.killer2)) return appendRemembered(ps, ps.killer2);
      [[fallthrough]];

    case STAGE_KILLER2: {
      ps.stage = STAGE_COUNTER;
      ps.counterReply = 0;
      if (ply >= 1) {
        chessMove prev = b.plies[ply - 1].currentMove;
        int code = int(prev >> 24);
        if (prev != 0 && code >= 2 && code <= 13) ps.counterReply = b.counterMove[code - 2][moveTo(prev)];
      }
      chessMove c = ps.counterReply;
      if (!sameMove(c, ps.killer1) && !sameMove(c, ps.killer2) && usableRemembered(b, ply, c))
        return appendRemembered(ps, c);
      [[fallthrough]];
    }

    case STAGE_COUNTER:
      ps.stage = STAGE_BAD_CAPTURES;
      ps.quietStart = ps.listEnd;
      ps.cursor = ps.listStart;
      ps.listEnd = ps.captureEnd;
      [[fallthrough]];

    case STAGE_BAD_CAPTURES:
      while (ps.cursor < ps.listEnd) {
        chessMove m = *ps.cursor++;
        if (moveScore(m) == BAD_CAPTURE_MARK) return m;
      }
      [[fallthrough]];

    case STAGE_GENERATE_QUIETS: {
      generateQuiets(ply, ps.quietStart, b);
      // Drop what was handed out already: the hash move, then the killers
      // and counter move in the reserved slots.
      chessMove* const handedEnd = ps.quietStart;
      if (ps.hashMove) removeFromList(ps, ps.quietStart, ps.hashMove);
      for (chessMove* p = ps.captureEnd; p < handedEnd; ++p) removeFromList(ps, ps.quietStart, *p);
      b.plies[ply + 1].listStart = ps.listEnd;
      ps.cursor = ps.quietStart;
      ps.quietsScored = 0;
      ps.stage = STAGE_QUIETS;
      [[fallthrough]];
    }

    case STAGE_QUIETS: {
      if (ps.cursor >= ps.listEnd) return 0;
      if (!inListOrder) {
        // The sums are kept beside the moves, slot for slot, and worked out
        // again only when this side's histories have changed since (in the
        // subtrees searched meanwhile).
        const std::ptrdiff_t first = ps.cursor - b.plies[0].listStart;
        const std::ptrdiff_t count = std::min<std::ptrdiff_t>(ps.listEnd - ps.cursor, 256);
        // A list outside the thread's buffer (not one of the search's) gets
        // no kept sums; no position has 256 quiet moves.
        const bool kept = first >= 0 && first + count <= MOVE_BUFFER_SIZE;
        i32 unkept[256];
        i32* const sums = kept ? b.quietScores + first : unkept;
        const u32 version = b.historyVersion[b.sideToMove];
        if (!kept || !ps.quietsScored || ps.scoredVersion != version) {
          historySums(b, ps.cursor, ps.cursor + count, sums, historyRow(b, ply, 2, b.pairHistory2),
                      historyRow(b, ply, 1, b.pairHistory1));
          ps.quietsScored = kept;
          ps.scoredVersion = version;
        }
        // The largest sum first (a loop the compiler turns into vector
        // operations), then the first move that has it.
        i32 top = sums[0];
        for (std::ptrdiff_t i = 1; i < count; ++i) top = std::max(top, sums[i]);
        std::ptrdiff_t best = 0;
        while (sums[best] != top) ++best;
        std::swap(ps.cursor[0], ps.cursor[best]);
        std::swap(sums[0], sums[best]);
      }
      return *ps.cursor++;
    }

    case STAGE_EVASIONS:
    evasions:
      while (ps.cursor < ps.listEnd) {
        pickHighestScore(ps.cursor, ps.listEnd);
        chessMove m = *ps.cursor++;
        if (!sameMove(m, ps.hashMove)) return m;
      }
      return 0;

    default:
      return 0;
  }
}

bool nextProbCutMove(u8 ply, chessMove* cursor, board& b, int threshold) {
  plyState& ps = b.plies[ply];
  switch (ps.stage) {
    case STAGE_HASH_READY: {
      ps.stage = STAGE_HASH;
      chessMove m = *cursor;  // the caller put the hash move here
      if (!b.pieceOn[moveTo(m)] && !isPromotion(moveKindOf(m))) return false;
      if (!seeAtLeast(b, m, threshold)) return false;
      makeMove(b, ply, m);
      return true;
    }
    case STAGE_HASH:
      generateCaptures(ply, cursor, b);
      ps.stage = STAGE_CAPTURES;
      [[fallthrough]];
    case STAGE_CAPTURES: {
      if (cursor >= ps.listEnd) return false;
      chessMove m = *cursor;
      if (sameMove(m, ps.hashMove) || !seeAtLeast(b, m, threshold) || !isLegal(m, b, ply)) return false;
      // The caller reads the move back from the slot, with its mover on top.
      *cursor = (m & MOVE_MASK) | (u32(b.pieceOn[moveFrom(m)]) << 24);
      makeMove(b, ply, m);
      return true;
    }
    default:
      return false;
  }
}

template <class S>
void updateOrdering(u8 ply, int depth, chessMove m, board& b) {
  plyState& ps = b.plies[ply];
  if (ps.inCheck || b.pieceOn[moveTo(m)] != 0) return;
  if (depth <= HISTORY_UPDATE_MAX_DEPTH) {
    ++b.historyVersion[b.sideToMove];
    const int bonus = S::v.historyBonusScale * std::min(depth * depth, HISTORY_BONUS_DEPTH_CAP);
    i16* row2 = historyRow(b, ply, 2, b.pairHistory2);
    i16* row1 = historyRow(b, ply, 1, b.pairHistory1);
    const int code = b.pieceOn[moveFrom(m)];
    const int idx = (code - 2) * 64 + moveTo(m);
    if (row2) applyBonus(row2[idx], bonus);
    if (row1) {
      chessMove prev = b.plies[ply - 1].currentMove;
      b.counterMove[(prev >> 24) - 2][moveTo(prev)] = m;
      applyBonus(row1[idx], bonus);
    }
    applyBonus(b.history[code - 2][moveTo(m)], bonus);

    chessMove hm = ps.hashMove;
    if (hm && !sameMove(hm, m) && !b.pieceOn[moveTo(hm)] && b.pieceOn[moveFrom(hm)]) penalise(b, hm, bonus, row2, row1);
    // Killers and counter move handed out before m, and the quiet moves before it.
    const u8 stage = ps.stage;
    if (stage >= STAGE_KILLER1 && stage <= STAGE_COUNTER) {
      for (chessMove* p = ps.captureEnd; p < ps.cursor - 1; ++p) penalise(b, *p, bonus, row2, row1);
    } else if (stage == STAGE_QUIETS) {
      for (chessMove* p = ps.captureEnd; p < ps.quietStart; ++p) penalise(b, *p, bonus, row2, row1);
      for (chessMove* p = ps.quietStart; p < ps.cursor - 1; ++p) penalise(b, *p, bonus, row2, row1);
    }
  }
  if (!sameMove(ps.killer1, m)) {
    ps.killer2 = ps.killer1;
    ps.killer1 = m;
  }
}

template void updateOrdering<handSearch>(u8, int, chessMove, board&);
template void updateOrdering<netSearch>(u8, int, chessMove, board&);

void updateOrdering(u8 ply, int depth, chessMove m, board& b) {
  if (b.accumulators)
    updateOrdering<netSearch>(ply, depth, m, b);
  else
    updateOrdering<handSearch>(ply, depth, m, b);
}
