#include "engine/root.h"

#include <algorithm>

#include "board/attacks.h"
#include "board/clock.h"
#include "engine/report.h"
#include "engine/threads.h"
#include "movegen/makemove.h"
#include "movegen/movegen.h"
#include "search/limits.h"
#include "search/search.h"
#include "search/tbroot.h"
#include "search/tt.h"
#include "tablebase/tbprobe.h"

const i16 aspirationDeltas[16][5] = {
    {15, 35, 40, 80, 160},  {15, 20, 40, 80, 160}, {11, 19, 31, 49, 76},   {15, 35, 40, 80, 160},
    {50, 40, 80, 160, 320}, {15, 35, 40, 80, 160}, {29, 32, 68, 124, 200}, {15, 35, 40, 80, 160},
    {15, 35, 40, 80, 160},  {29, 32, 68, 124, 200}, {15, 35, 40, 80, 160}, {15, 35, 40, 80, 160},
    {15, 20, 40, 80, 160},  {11, 19, 31, 49, 76},   {50, 40, 80, 160, 320}, {35, 27, 58, 139, 200},
};
const u8 skipPeriod[16] = {1, 2, 2, 3, 3, 3, 4, 4, 6, 3, 2, 2, 4, 5, 3, 2};
const u8 skipStep[16] = {0, 1, 0, 1, 1, 0, 0, 2, 1, 0, 1, 1, 2, 1, 1, 0};

namespace {

constexpr std::memory_order relaxed = std::memory_order_relaxed;

}  // namespace

bool pvMoveFits(chessMove m, board& b, u8 ply) {
  // The records of a walked variation carry no check flag of their own.
  b.plies[ply].inCheck = kingAttacked(b, b.sideToMove) ? 1 : 0;
  return isPseudoLegal(m, b, ply);
}

void extractPv(board& b, int maxLength) {
  b.pvLast = 0;
  // Each move made writes the record of the next ply and one key.
  maxLength = std::min(maxLength, MAX_PLY);
  maxLength = std::min(maxLength, KEY_HISTORY_SIZE - int(b.keyCount));
  int made = 0;
  for (int k = 0; k < maxLength; ++k) {
    const hashEntry e = hashProbe(b.hashKey);
    const chessMove m = entryMove(e);
    if (entryBound(e) != BOUND_EXACT || m == 0) break;
    if (!pvMoveFits(m, b, u8(k))) break;
    const int us = b.sideToMove;
    makeMove(b, u8(k), m);
    if (kingAttacked(b, us)) {  // a stale entry could leave the king en prise
      unmakeMove(b, u8(k), m);
      break;
    }
    b.plies[k].bestMove = m;
    b.pvLast = u8(k);
    made = k + 1;
  }
  for (int k = made - 1; k >= 0; --k) unmakeMove(b, u8(k), b.plies[k].bestMove);
}

void openWindow(aspirationWindow& w, int row, int depth, int prevScore) {
  if (depth >= 6) {
    w.alpha = prevScore - aspirationDeltas[row][0];
    w.beta = prevScore + aspirationDeltas[row][0];
  }
  w.failLows = w.failHighs = 0;
}

bool widenWindow(aspirationWindow& w, int row, int score) {
  if (score <= w.alpha) {
    ++w.failLows;
    w.failHighReduction = 0;
    w.beta = (w.alpha + w.beta) / 2;
    w.alpha = w.failLows <= 4 ? score - aspirationDeltas[row][w.failLows] : -MATE_SCORE;
    return true;
  }
  if (score >= w.beta) {
    ++w.failHighs;
    ++w.failHighReduction;
    w.beta = w.failHighs <= 4 ? score + aspirationDeltas[row][w.failHighs] : MATE_SCORE;
    return true;
  }
  return false;
}

double nextTimeFactor(double timeFactor, int depth, int instability) {
  if (depth <= 5) return 1.0;
  if (instability <= 1) {
    timeFactor *= 0.9;
  } else {
    const double x = 0.2 * instability;
    timeFactor = timeFactor <= 1.0 ? 1.0 + x : timeFactor * 0.8 + x;
  }
  return std::clamp(timeFactor, 0.6, 2.0);
}

int skipLimit(int threads) { return threads <= 3 ? threads / 2 : threads / 2 + 1; }

namespace {

i64 refreshElapsed() {
  const i64 e = nowMs() - searchStartMs.load(relaxed);
  elapsedMs.store(e, relaxed);
  return e;
}

bool mateWithinDepth(int score, int depth) {
  return (score >= MATE_BAND && MATE_SCORE - score <= depth) || (score <= -MATE_BAND && score + MATE_SCORE <= depth);
}

// "go mate N": a proven mate in N moves or fewer for the side to move.
bool mateLimitReached(int score) {
  return limits.mate > 0 && score >= MATE_BAND && mateMoves(score) <= limits.mate;
}

i16 toWindow(int v) { return i16(std::clamp(v, -32767, 32767)); }

}  // namespace

void rootSearch(worker& w) {
  board& b = *w.boardPtr;
  const bool isBoss = w.threadIndex == 0;
  boss* chief = isBoss ? dynamic_cast<boss*>(&w) : nullptr;
  const int row = int(w.threadIndex % 16);
  const i64 minTime = std::max<i64>(100, softTime.load(relaxed) / 16);

  // A node limit is polled from the first node on, so a small one is not
  // passed by a whole interval.
  b.nodesToClockCheck = limits.nodes ? 0 : clockCheckInterval;
  b.plies[0].killer1 = b.plies[0].killer2 = 0;
  searchFinished.store(0, relaxed);
  generateLegal(0, b.plies[0].listStart, b);
  const long rootMoves = b.plies[0].listEnd - b.plies[0].listStart;
  w.firstRootMove = rootMoves > 0 ? b.plies[0].listStart[0] : 0;
  b.rootDepthComplete = 1;
  b.rootDepth = 0;
  b.rootScore = NO_EVAL;

  w.finishedDepth = 0;

  // A root without moves, or one the tablebases answer, needs no search and
  // no helper. stopFlag stays clear: under "ponder" or "infinite" the boss
  // still holds its answer until "ponderhit" or "stop".
  if (rootMoves == 0) {
    if (!isBoss) return;
    reportLine(b.plies[0].inCheck ? MATED_ROOT_LINE : STALEMATE_ROOT_LINE);
    b.plies[0].bestMove = 0;
    b.pvLast = 0;
    elapsedMs.store(1, relaxed);
    if (chief) chief->answeredAtOnce = chief->scoreShown = true;
    return;
  }
  if (isBoss && tbLargest > 0 && b.plies[0].castleRights == 0 && popCount(occupancy(b)) <= tbLargest) {
    int score = 0;
    const chessMove m = tbProbeRoot(b, score);
    if (m) {
      reportLine(tablebaseRootLine(score, m, b.sideToMove));
      b.plies[0].bestMove = m;
      b.pvLast = 0;
      elapsedMs.store(1, relaxed);
      b.rootDepthComplete = 1;
      b.rootDepth = 127;
      if (chief) chief->answeredAtOnce = chief->scoreShown = true;
      return;
    }
  }
  if (isBoss)
    for (std::size_t i = 1; i < threadPool.size(); ++i) start(*threadPool[i]);

  const int iterLimit = rootMoves == 1 ? 3 : limits.depthLimit;
  const int poolSize = int(threadPool.size());
  const int limit = skipLimit(poolSize);

  int d = 0;
  int prevScore = NO_EVAL;
  aspirationWindow win;
  double timeFactor = 1.0;
  bool keepGoing = true;

  do {
    ++d;
    if (!isBoss) {
      if ((row + d) % skipPeriod[row] == 0) d = std::min(127, d + skipStep[row]);
      if (d > 9) {
        int ahead = 0;
        for (worker* other : threadPool)
          if (other != &w && other->currentDepth.load(relaxed) >= d) ++ahead;
        if (ahead >= limit) continue;  // straight to the loop test
      }
    }
    w.currentDepth.store(d, relaxed);
    openWindow(win, row, d, prevScore);
    b.bestMoveChanges = 0;

    int score = 0;
    bool finished = false;
    if (!stopFlag.load(relaxed)) {
      for (;;) {
        score = alphaBeta(0, std::max(1, d - win.failHighReduction), toWindow(win.alpha), toWindow(win.beta), b);
        if (!widenWindow(win, row, score)) {
          finished = !stopFlag.load(relaxed);
          break;
        }
        if (isBoss && win.failLows == 0 && !infiniteMode.load(relaxed) && !pondering.load(relaxed) &&
            iterLimit == 0) {
          if (double(refreshElapsed()) > double(softTime.load(relaxed)) * timeFactor) stopFlag.store(1, relaxed);
        }
        if (stopFlag.load(relaxed)) break;
      }
    }

    if (finished) {
      prevScore = score;
      b.rootScore = i16(score);
      if (isBoss && d > 9) hashStore(b.hashKey, b.plies[0].bestMove, i16(score), d, BOUND_EXACT);
      b.rootDepthComplete = 1;
      b.rootDepth = u16(d);
      w.finishedDepth = d;
    }

    int instability = b.bestMoveChanges;
    if (win.failLows > 1 || win.failHighs > 1) instability += std::max(win.failLows, win.failHighs) - 1;
    const i64 elapsed = refreshElapsed();

    if (isBoss) {
      if (d > 9) {
        extractPv(b, d);
        if (!stopFlag.load(relaxed) && b.pvLast > 0 && chief) {
          chief->savedBest = b.plies[0].bestMove;
          chief->savedPonder = b.plies[1].bestMove;
        }
        reportLine(centipawnLine(prevScore, d, b.selDepth, poolTotals(), pvText(b)));
        if (chief) chief->scoreShown = true;
      }
      if (!stopFlag.load(relaxed) && (mateWithinDepth(prevScore, d) || mateLimitReached(prevScore))) {
        reportLine(mateLine(prevScore, d, poolTotals(), pvText(b)));
        if (chief) chief->scoreShown = true;
        // A proven mate ends the iterations; while pondering the answer then
        // waits for "ponderhit", which releases it at once.
        if (!infiniteMode.load(relaxed)) break;
      }
    }

    timeFactor = nextTimeFactor(timeFactor, d, instability);

    bool decides = isBoss;
    if (!isBoss && elapsed > minTime && d > deepestDepth.load(relaxed)) {
      deepestDepth.store(d, relaxed);
      decides = true;
    }
    if (decides) {
      if (iterLimit == 0) {
        if (double(elapsed) * elapsedScale > double(softTime.load(relaxed)) * timeFactor)
          searchFinished.store(1, relaxed);
        keepGoing = pondering.load(relaxed) ? true : !searchFinished.load(relaxed);
      } else if (d >= iterLimit) {
        keepGoing = false;
      }
      if (infiniteMode.load(relaxed)) keepGoing = true;
    }
    // Another thread's proof ends the search too; the boss ended above.
    if (!isBoss && mateLimitReached(prevScore) && !infiniteMode.load(relaxed) && !pondering.load(relaxed))
      keepGoing = false;
  } while (!stopFlag.load(relaxed) && d < 127 && keepGoing);

  refreshElapsed();
  // A limit reached while pondering ends only this thread's iterations: the
  // answer waits for "ponderhit", which then releases it at once.
  if (!keepGoing && !pondering.load(relaxed)) stopFlag.store(1, relaxed);
}
