#include "search/search.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "board/attacks.h"
#include "board/clock.h"
#include "eval/eval.h"
#include "movegen/makemove.h"
#include "movegen/movegen.h"
#include "search/limits.h"
#include "search/ordering.h"
#include "search/tbroot.h"
#include "search/tt.h"
#include "search/tuning.h"
#include "tablebase/tbprobe.h"

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

// Something besides king and pawns, so a pass is not a zugzwang trap.
bool hasPieces(const board& b, int side) {
  return (b.pieceBB[side] & ~(b.pieceBB[WHITE_PAWN + side] | b.pieceBB[WHITE_KING + side])) != 0;
}

// The same position with the same side to move, four or more plies back and
// after the last irreversible move, in the search or in the game before it.
bool isRepetition(const board& b) {
  if (b.halfMoves < 4 || b.keyCount > KEY_HISTORY_SIZE) return false;
  const int lowest = std::max(b.keyCount - b.halfMoves - 1, 0);
  for (int i = b.keyCount - 5; i >= lowest; i -= 2)
    if (b.keyHistory[i] == b.hashKey) return true;
  return false;
}

void storeNode(const board& b, u8 ply, chessMove move, int score, int depth, u8 bound) {
  hashTable.store(b.hashKey, move, scoreToTable(score, ply), depth, bound);
}

bool timeIsUp(const searchControl& ctl) {
  if (ctl.unbounded()) return false;
  return nowMs() - ctl.startMs.load(relaxed) >= ctl.hardTime.load(relaxed);
}

// The cap is reached while pondering or analysing: the search waits here
// until "ponderhit" (then it stops at once, with what the cap allowed) or "stop".
void holdAtCap(const searchControl& ctl) {
  while (ctl.unbounded() && !ctl.stopped()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// "go nodes": the nodes of all threads, polled like the clock and likewise
// not while pondering or in infinite analysis. Near the limit the next poll
// comes after half this thread's share of what is left, scaled by its ratio
// so far of polled nodes to all nodes (quiescence nodes do not count down to
// the poll), and never after more nodes than it has searched, so that ratio
// is known: the total passes the limit by little even when the ratio drifts.
bool nodeLimitReached(const searchControl& ctl, board& b) {
  // The strength cap waits for a first finished iteration (a move must come
  // from a search), polled at every node meanwhile so that it is not passed
  // by much.
  const bool capWaits = b.rootScore == NO_EVAL;
  if (capWaits && ctl.limits.capNodes) b.nodesToClockCheck = 0;
  const u64 cap = capWaits ? 0 : ctl.limits.capNodes;
  const bool lifted = ctl.unbounded();
  u64 limit = lifted ? 0 : ctl.limits.nodes;
  if (cap != 0 && (limit == 0 || cap < limit)) limit = cap;
  if (limit == 0 || !ctl.poolNodes) return false;
  const u64 total = ctl.poolNodes();
  if (total >= limit) {
    if (lifted) holdAtCap(ctl);
    return true;
  }
  const double share = std::min(
      double(limit - total) / (2 * std::max(1, ctl.threads)) * double(b.nodes) / double(b.nodes + b.qNodes),
      double(b.nodes));
  if (share < b.nodesToClockCheck) b.nodesToClockCheck = i32(share);
  return false;
}

// A root with moves left out knows no true score of its own: nothing of it
// is stored.
bool restrictedRoot(const board& b, u8 ply) { return ply == 0 && b.rootSkipCount != 0; }

bool rootMoveSkipped(const board& b, chessMove m) {
  for (int i = 0; i < b.rootSkipCount; ++i)
    if (sameMove(b.rootSkip[i], m)) return true;
  return false;
}

template <class S>
i16 searchChild(u8 ply, int depth, int alpha, int beta, board& b) {
  return depth > 0 ? alphaBeta<S>(ply, depth, i16(alpha), i16(beta), b)
                   : quiescence<S>(ply, 0, i16(alpha), i16(beta), b);
}

}  // namespace

template <class S>
i16 alphaBeta(u8 ply, i32 depth, i16 alphaIn, i16 betaIn, board& b) {
  if (depth <= 0) return quiescence<S>(ply, 0, alphaIn, betaIn, b);  // callers should not, but stay sound

  // Count the node; every CLOCK_CHECK_NODES nodes look at the clock and the
  // node limit.
  bumpCounter(b.nodes);
  if (ply > b.selDepth) b.selDepth = ply;
  searchControl& ctl = *b.control;
  if (--b.nodesToClockCheck < 0) {
    b.nodesToClockCheck = CLOCK_CHECK_NODES;
    if (timeIsUp(ctl) || nodeLimitReached(ctl, b)) {
      ctl.requestStop();
      return 0;
    }
  }
  if (ctl.stopped()) return 0;

  const bool pvNode = betaIn > alphaIn + 1;
  int alpha = alphaIn, beta = betaIn;
  plyState& ps = b.plies[ply];

  // Draws, mate distance and the ply limit, below the root only.
  if (ply != 0) {
    if (isRepetition(b) || insufficientMaterial(b)) return 0;
    alpha = std::max(alpha, ply - MATE_SCORE);
    beta = std::min(beta, MATE_SCORE + 1 - ply);
    if (alpha >= beta) return i16(alpha);
    if (ply >= MAX_PLY || !moveListRoom(b, ply)) return staticEvaluation(b, ply);
    // Fifty moves without a capture or pawn move: drawn unless mated, and
    // settled here, before a table entry, a pruning or a cut-off could
    // claim another score.
    if (b.halfMoves >= FIFTY_MOVE_PLIES) {
      if (!ps.inCheck) return 0;
      generateCaptures(ply, ps.listStart, b);  // in check: exactly the legal evasions
      return ps.listEnd != ps.listStart ? 0 : i16(ply - MATE_SCORE);
    }
  }
  const int alphaOrig = alpha;

  // Table probe: outside the principal variation, a deep enough entry whose
  // bound settles the window is the node's value.
  ps.hashMove = 0;
  hashEntry tte = hashTable.probe(b.hashKey);
  if (entryBound(tte) == BOUND_NONE) tte = 0;
  int ttScore = 0;
  if (tte) {
    const u8 bound = entryBound(tte);
    ttScore = scoreFromTable(entryScore(tte), ply);
    if (!pvNode && ply != 0 && entryDepth(tte) >= depth &&
        ((bound != BOUND_UPPER && ttScore >= beta) || (bound != BOUND_LOWER && ttScore <= alpha) ||
         bound == BOUND_EXACT))
      return i16(ttScore);
    ps.hashMove = entryMove(tte);
  }

  // Tablebases, right after a capture or pawn move (the tables know nothing
  // of the fifty-move count before it).
  if (ply != 0 && tbInfo.largest != 0 && b.halfMoves == 0 && ps.castleRights == 0) {
    const int pieces = popCount(occupancy(b));
    if (pieces < tbInfo.largest || (pieces == tbInfo.largest && depth >= tbInfo.probeDepth)) {
      const int wdl = tbProbeSearch(ply, b);
      if (wdl >= 0) {
        bumpCounter(b.tbHits);
        if (wdl == TB_WIN) {
          const int value = MATE_BAND - ply;
          if (value >= beta) {
            storeNode(b, ply, 0, value, TABLEBASE_DEPTH, BOUND_LOWER);
            return i16(value);
          }
        } else if (wdl == TB_LOSS) {
          const int value = ply - MATE_BAND;
          if (value <= alpha) {
            storeNode(b, ply, 0, value, TABLEBASE_DEPTH, BOUND_UPPER);
            return i16(value);
          }
        } else {
          storeNode(b, ply, 0, 0, TABLEBASE_DEPTH, BOUND_EXACT);
          return 0;
        }
      }
    }
  }

  // Static evaluation; a table bound on the right side of it replaces it for
  // the pruning below.
  const int us = b.sideToMove;
  const bool inCheck = ps.inCheck;
  bool improving = true;
  if (inCheck) {
    ps.staticEval = NO_EVAL;
  } else {
    const int staticEval = staticEvaluation(b, ply);
    ps.staticEval = i16(staticEval);
    const u8 bound = entryBound(tte);
    int pruneEval = staticEval;
    if (bound == BOUND_EXACT || (bound == BOUND_LOWER && ttScore > staticEval) ||
        (bound == BOUND_UPPER && ttScore < staticEval))
      pruneEval = ttScore;
    improving = ply < 2 || staticEval >= b.plies[ply - 2].staticEval;
    const bool pruneEvalIsMate = std::abs(pruneEval) >= MATE_BAND;

    // Reverse futility pruning: far enough above beta, the node fails high
    // without a search (not in pawn endings, where zugzwang rules).
    if (!pvNode && depth <= REVERSE_FUTILITY_MAX_DEPTH && !pruneEvalIsMate && pruneEval >= beta + S::v.reverseFutilityMargin * depth &&
        hasPieces(b, us))
      return i16(pruneEval);

    // Razoring: far below alpha near the leaves, a quiescence search decides.
    if (!pvNode && depth <= RAZOR_MAX_DEPTH && pruneEval + S::v.razorMargin[depth + (RAZOR_MAX_DEPTH + 1) * improving] < alpha) {
      const int q = quiescence<S>(ply, 0, i16(alpha), i16(beta), b);
      if (q < alpha) return i16(q);
    }

    // Null move: if passing still fails high, so would a move; never twice
    // in a row for one side.
    if (!pvNode && depth >= NULL_MOVE_MIN_DEPTH && ply >= 2 && b.plies[ply - 2].currentMove != 0 && pruneEval >= beta &&
        hasPieces(b, us)) {
      const int reduction = (S::v.nullMoveBase + S::v.nullMoveDepthScale * depth) / 100 +
                            std::min(NULL_MOVE_EVAL_CAP, (pruneEval - beta) / S::v.nullMoveEvalStep);
      ps.currentMove = 0;
      const u64 key = b.hashKey;
      makeNullMove(b, ply);
      hashTable.prefetch(b.hashKey);
      const int s = -searchChild<S>(u8(ply + 1), depth - reduction, -beta, -beta + 1, b);
      unmakeNullMove(b, ply, key);
      if (s >= beta) return i16(s > MATE_BAND ? beta : s);  // a mate found after passing is not trusted
    }

    // ProbCut: a capture that beats beta by a margin in a shallower search.
    if (!pvNode && depth >= PROBCUT_MIN_DEPTH && !pruneEvalIsMate) {
      const int rBeta = beta + S::v.probCutMargin;
      chessMove* cursor = ps.listStart;
      if (ps.hashMove && hashMoveUsable(ps.hashMove, b, ply)) {
        *cursor = ps.hashMove;
        ps.listEnd = cursor + 1;
        ps.stage = STAGE_HASH_READY;
      } else {
        ps.listEnd = cursor;
        ps.stage = STAGE_HASH;
      }
      b.plies[ply + 1].listStart = ps.listEnd;
      int tried = 0;
      while (tried < PROBCUT_MAX_TRIES && (ps.stage < STAGE_CAPTURES || cursor < ps.listEnd)) {
        if (nextProbCutMove(ply, cursor, b, rBeta - staticEval)) {
          const chessMove m = *cursor;
          ps.currentMove = m;
          b.plies[ply + 1].inCheck = kingAttacked(b, b.sideToMove) ? 1 : 0;
          hashTable.prefetch(b.hashKey);
          int s = -quiescence<S>(u8(ply + 1), 0, i16(-rBeta), i16(-rBeta + 1), b);
          if (s >= rBeta) s = -alphaBeta<S>(u8(ply + 1), depth - PROBCUT_REDUCTION, i16(-rBeta), i16(-rBeta + 1), b);
          unmakeMove(b, ply, m);
          if (s >= rBeta) return i16(s);
          ++tried;
        }
        ++cursor;
      }
    }

    // Internal iterative deepening, to find a move to try first.
    if (ps.hashMove == 0 && depth >= IID_MIN_DEPTH && (pvNode || pruneEval >= beta - S::v.iidBetaMargin)) {
      alphaBeta<S>(ply, depth - IID_REDUCTION, i16(alpha), i16(beta), b);
      const hashEntry e = hashTable.probe(b.hashKey);
      if (entryBound(e) != BOUND_NONE) {
        tte = e;
        ttScore = scoreFromTable(entryScore(e), ply);
        ps.hashMove = entryMove(e);
      }
    }
  }

  // The moves: the hash move first, if it can be played here.
  const bool hashValid = ps.hashMove && hashMoveUsable(ps.hashMove, b, ply);
  // A remembered move that cannot be played here must not hide a real move
  // with the same squares from the lists below.
  if (!hashValid) ps.hashMove = 0;
  preparePicker(b, ply, hashValid);

  // Singular test: is the hash move clearly better than every rival? Then
  // it is extended. The rivals are searched at half depth against a lowered
  // bound; the picker is then set back.
  bool singular = false;
  if (hashValid && ply != 0 && depth >= SINGULAR_MIN_DEPTH && entryDepth(tte) >= depth - SINGULAR_ENTRY_SLACK && entryBound(tte) != BOUND_NONE &&
      entryBound(tte) != BOUND_UPPER && std::abs(ttScore) < MATE_BAND) {
    const int singularBeta = ttScore - S::v.singularMargin * depth / 16;
    int last = -MATE_SCORE;
    int counted = 0;
    const plyState saved = ps;
    while (const chessMove m = nextMove(ply, b)) {
      const u8 stage = ps.stage;
      if (stage == STAGE_HASH) continue;
      if (!inCheck && !isLegal(m, b, ply)) continue;
      const int mover = b.pieceOn[moveFrom(m)];
      makeMove(b, ply, m);
      ps.currentMove = (m & MOVE_MASK) | (u32(mover) << 24);
      b.plies[ply + 1].inCheck = kingAttacked(b, b.sideToMove) ? 1 : 0;
      if (stage > STAGE_CAPTURES && stage != STAGE_BAD_CAPTURES) ++counted;
      last = -alphaBeta<S>(u8(ply + 1), depth / 2 - 1, i16(-singularBeta), i16(-singularBeta + 1), b);
      unmakeMove(b, ply, m);
      if (last > singularBeta || counted > SINGULAR_MAX_QUIETS) break;
    }
    ps = saved;
    b.plies[ply + 1].listStart = ps.listEnd;
    singular = last <= singularBeta;
  }

  // The move loop.
  b.plies[ply + 1].killer1 = b.plies[ply + 1].killer2 = 0;
  int movesSearched = 0;
  bool prunedLegal = false;  // a legal move was skipped by a pruning rule
  bool mayPrune = true;      // cleared for the second pass below
  int lateIndex = 0;
  bool pruneRest = false;
  int best = -MATE_SCORE;
  i16* const row2 = historyRow(b, ply, 2, b.pairHistory2);
  i16* const row1 = historyRow(b, ply, 1, b.pairHistory1);
  const bool bothRows = row2 && row1;
  checkTest checkInfo;
  prepareCheckTest(b, checkInfo);

searchMoves:
  for (;;) {
    // Once late-move pruning has set in, only checks are searched. Whether a
    // move checks is read before it is made, so the rest are never made; the
    // rest of the quiet list is walked here, in the order the picker would
    // hand it out.
    if (pruneRest && ps.stage == STAGE_QUIETS)
      while (ps.cursor < ps.listEnd && !givesCheck(b, checkInfo, *ps.cursor)) ++ps.cursor;
    const chessMove m = nextMove(ply, b, pruneRest);
    if (!m) break;
    if (restrictedRoot(b, ply) && rootMoveSkipped(b, m)) continue;
    const bool checks = givesCheck(b, checkInfo, m);
    if (pruneRest && !checks) continue;

    const u8 stage = ps.stage;
    const int from = moveFrom(m), to = moveTo(m), kind = moveKindOf(m);
    const int mover = b.pieceOn[from];
    const int idx = (mover - 2) * 64 + to;
    // Read only where a rule asks for it.
    const auto negativeHistories = [&] {
      return bothRows && b.history[mover - 2][to] < 0 && row2[idx] < 0 && row1[idx] < 0;
    };

    // Pruned before anything else: bad captures that lose too much, and quiet
    // moves with a bad record everywhere.
    if (mayPrune &&
        ((ply != 0 && stage == STAGE_BAD_CAPTURES && depth <= BAD_CAPTURE_PRUNE_MAX_DEPTH &&
          !seeAtLeast(b, m, -S::v.badCaptureLoss * depth)) ||
         (ply != 0 && !b.pieceOn[to] && depth <= HISTORY_PRUNE_MAX_DEPTH && negativeHistories()))) {
      prunedLegal = prunedLegal || stage == STAGE_HASH || inCheck || isLegal(m, b, ply);
      continue;
    }
    // Legality; the hash move and evasions are known to be legal.
    if (stage != STAGE_HASH && !inCheck && !isLegalQuick(m, b, ply)) continue;

    // Late-move pruning, before the move is made: a pruned move need not be.
    if (mayPrune && !checks && ply != 0 && !pvNode && !inCheck && depth <= LATE_MOVE_MAX_DEPTH &&
        (stage == STAGE_KILLER1 || stage == STAGE_KILLER2 || stage == STAGE_COUNTER || stage == STAGE_QUIETS) &&
        lateIndex >= S::t.lateMoveCount[depth + (LATE_MOVE_MAX_DEPTH + 1) * improving]) {
      pruneRest = true;
      prunedLegal = true;
      continue;
    }

    // Make it; the child's bucket is fetched as soon as its key is known.
    const chessMove played = (m & MOVE_MASK) | (u32(mover) << 24);
    makeMove(b, ply, m);
    hashTable.prefetch(b.hashKey);
    ps.currentMove = played;
    b.plies[ply + 1].inCheck = checks ? 1 : 0;

    ++movesSearched;
    const bool captures = b.plies[ply + 1].captured != 0;

    // Extensions: the singular hash move; a check whose piece is safe (or
    // that cannot be taken back: en passant, castling); a quiet move both
    // move-pair histories rate highly.
    int newDepth = depth - 1;
    if (movesSearched == 1 && singular) {
      newDepth = depth;
    } else if (checks) {
      if (kind == EN_PASSANT || kind == CASTLE_SHORT || kind == CASTLE_LONG || movedPieceSafe(b, m, b.plies[ply + 1].captured))
        newDepth = depth;
    } else if (!inCheck && !captures && bothRows && row2[idx] > HISTORY_EXTENSION_SCORE && row1[idx] > HISTORY_EXTENSION_SCORE) {
      newDepth = depth;
    }

    // Bad captures do not count as late moves.
    if (stage != STAGE_BAD_CAPTURES) ++lateIndex;

    // Search: the first move with the full window; later ones with a null
    // window, reduced by the late-move table and the adjustments below, and
    // searched again at full depth, then with the full window, when they
    // beat alpha.
    int s;
    if (movesSearched == 1) {
      s = -searchChild<S>(u8(ply + 1), newDepth, -beta, -alpha, b);
    } else {
      int r = 0;
      if (depth >= REDUCTION_MIN_DEPTH && !captures) {
        r = pvNode && lateIndex == PV_LIGHT_REDUCTION_INDEX ? 1 : S::t.reductions[std::min(depth, REDUCTION_DEPTHS - 1)][std::min(lateIndex, REDUCTION_MOVES - 1)];
        if (!improving) ++r;
        if (negativeHistories()) ++r;
        if (r != 0) {
          if (pvNode) --r;
          if (r != 0 && typeOf(b.pieceOn[to]) == PAWN && ((to >> 3) == 6 || (to >> 3) == 1)) --r;
        }
        if (typeOf(mover) == PAWN && (sameMove(m, ps.killer1) || sameMove(m, ps.killer2)) &&
            !(passedMask[us][to] & b.pieceBB[pieceCode(PAWN, us ^ 1)]))
          --r;
      }
      s = -searchChild<S>(u8(ply + 1), newDepth - r, -alpha - 1, -alpha, b);
      if (newDepth > 0 && r != 0 && s > alpha) s = -alphaBeta<S>(u8(ply + 1), newDepth, i16(-alpha - 1), i16(-alpha), b);
      if (s > alpha && s < beta) s = -searchChild<S>(u8(ply + 1), newDepth, -beta, -alpha, b);
    }

    // Take it back; a stopped search's scores mean nothing.
    unmakeMove(b, ply, m);
    if (ctl.stopped()) return 0;

    // A new best move; a cut-off stores a lower bound and feeds the ordering.
    if (s > best) {
      best = s;
      if (s > alpha) {
        ps.bestMove = played;
        alpha = s;
        if (ply == 0) {
          ++b.bestMoveChanges;
          b.rootDepth = u16(depth);
          b.rootDepthComplete = 0;
          b.rootMoveScore = i16(s);
        }
        if (s >= beta) {
          if (!restrictedRoot(b, ply)) storeNode(b, ply, played, s, depth, BOUND_LOWER);
          updateOrdering<S>(ply, depth, played, b);
          return i16(s);
        }
      }
    }
  }

  // Moves exhausted. When legal moves were only pruned, the node is
  // neither mated nor stalemated: it fails low and stores nothing. A fail
  // low must not read as a mate, though: where mate-distance pruning (or the
  // window) put alpha in the mate band, "at most alpha" would claim this side
  // is mated, so the pruned moves are searched after all, this time without
  // pruning, for a real value.
  if (movesSearched == 0 && prunedLegal) {
    if (alphaOrig > -MATE_BAND) return i16(std::min(alphaOrig, MATE_BAND - 1));
    mayPrune = false;
    prunedLegal = pruneRest = false;
    lateIndex = 0;
    preparePicker(b, ply, hashValid);
    b.plies[ply + 1].killer1 = b.plies[ply + 1].killer2 = 0;
    goto searchMoves;
  }
  if (movesSearched == 0) return inCheck ? i16(ply - MATE_SCORE) : 0;
  if (b.halfMoves >= FIFTY_MOVE_PLIES) return 0;
  if (restrictedRoot(b, ply)) return i16(best);
  if (best <= alphaOrig)
    storeNode(b, ply, ps.hashMove, best, depth, BOUND_UPPER);
  else
    storeNode(b, ply, ps.bestMove, best, depth, BOUND_EXACT);
  return i16(best);
}

template i16 alphaBeta<handSearch>(u8, i32, i16, i16, board&);
template i16 alphaBeta<netSearch>(u8, i32, i16, i16, board&);
