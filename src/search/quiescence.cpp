#include <algorithm>

#include "board/attacks.h"
#include "eval/eval.h"
#include "movegen/makemove.h"
#include "movegen/movegen.h"
#include "search/ordering.h"
#include "search/search.h"
#include "search/tt.h"
#include "search/tuning.h"

// No pawns, and each side holds at most one minor piece.
bool insufficientMaterial(const board& b) {
  if (b.pieceBB[WHITE_PAWN] | b.pieceBB[BLACK_PAWN]) return false;
  const int limit = mgOf(materialValue[BISHOP - 1]);
  return mgOf(b.material[WHITE]) <= limit && mgOf(b.material[BLACK]) <= limit;
}

template <class S>
i16 quiescence(u8 ply, i32 depth, i16 alphaIn, i16 betaIn, board& b) {
  bumpCounter(b.qNodes);
  if (insufficientMaterial(b)) return 0;

  int alpha = std::max<int>(alphaIn, ply - MATE_SCORE);
  int beta = std::min<int>(betaIn, MATE_SCORE + 1 - ply);
  if (alpha >= beta) return i16(alpha);
  if (ply >= MAX_PLY || !moveListRoom(b, ply)) return staticEvaluation(b, ply);

  plyState& ps = b.plies[ply];
  const hashEntry entry = hashTable.probe(b.hashKey);
  const u8 bound = entryBound(entry);
  int ttScore = 0;
  if (bound != BOUND_NONE) {
    ttScore = scoreFromTable(entryScore(entry), ply);
    if ((bound != BOUND_UPPER && ttScore >= beta) || (bound != BOUND_LOWER && ttScore <= alpha) ||
        bound == BOUND_EXACT)
      return i16(ttScore);
  }

  int best;
  if (ps.inCheck) {
    best = ply - MATE_SCORE;
  } else {
    int standPat = staticEvaluation(b, ply);
    if ((bound == BOUND_LOWER && ttScore > standPat) || (bound == BOUND_UPPER && ttScore < standPat))
      standPat = ttScore;
    if (standPat >= beta) return i16(standPat);
    best = standPat;
    alpha = std::max(alpha, standPat);
  }

  const int us = b.sideToMove;
  const int enemyKing = kingSquare(b, us ^ 1);  // a valid stand-in square if the king is gone

  // Deep in the line, checks are no longer answered with evasions.
  if (depth < QS_EVASIONS_DEPTH) ps.inCheck = 0;
  const bool inCheck = ps.inCheck;

  if (depth >= QS_ALL_CAPTURES_DEPTH)
    generateQuiesceCaptures(ply, ps.listStart, b);
  else
    generateRecaptures(ply, ps.listStart, b);

  if (inCheck) {
    if (ps.listEnd == ps.listStart) return i16(best);
    demoteLosingEvasions(b, ps.listStart, ps.listEnd);
  }

  const bool filtered = !inCheck && depth >= QS_ALL_CAPTURES_DEPTH && depth <= 0;
  int played = 0;
  for (chessMove* cursor = ps.listStart; cursor < ps.listEnd; ++cursor) {
    if (cursor == ps.listStart) pickHighestScore(cursor, ps.listEnd);
    const chessMove m = *cursor;
    const int kind = moveKindOf(m);
    // The next choice does not depend on this move's subtree: it is made
    // now, and its child's bucket is fetched while this subtree is searched.
    if (cursor + 1 < ps.listEnd) {
      pickHighestScore(cursor + 1, ps.listEnd);
      hashTable.prefetch(keyAfter(b, ply, cursor[1]));
    }

    if (filtered && kind != EN_PASSANT && kind != CASTLE_SHORT && kind != CASTLE_LONG &&
        seeValue[b.pieceOn[moveTo(m)]] < seeValue[b.pieceOn[moveFrom(m)]] && !seeNonNegative(b, m))
      continue;
    if (!inCheck && !isLegalQuick(m, b, ply)) continue;

    makeMove(b, ply, m);
    hashTable.prefetch(b.hashKey);
    ps.currentMove = m & MOVE_MASK;
    b.plies[ply + 1].inCheck = squareAttacked(b, enemyKing, us, occupancy(b)) ? 1 : 0;

    int score;
    if (played++ == 0) {
      score = -quiescence<S>(ply + 1, depth - 1, i16(-beta), i16(-alpha), b);
    } else {
      score = -quiescence<S>(ply + 1, depth - 1, i16(-alpha - 1), i16(-alpha), b);
      if (score > alpha && score < beta) score = -quiescence<S>(ply + 1, depth - 1, i16(-beta), i16(-alpha), b);
    }
    unmakeMove(b, ply, m);

    if (score > best) {
      best = score;
      if (score > alpha) {
        alpha = score;
        if (score >= beta) return i16(score);
      }
    }
  }
  return i16(best);
}

template i16 quiescence<handSearch>(u8, i32, i16, i16, board&);
template i16 quiescence<netSearch>(u8, i32, i16, i16, board&);
