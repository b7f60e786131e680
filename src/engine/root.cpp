#include "engine/root.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "board/attacks.h"
#include "board/clock.h"
#include "engine/report.h"
#include "engine/tuning.h"
#include "movegen/makemove.h"
#include "movegen/movegen.h"
#include "search/limits.h"
#include "search/search.h"
#include "search/tbroot.h"
#include "search/tt.h"
#include "tablebase/tbprobe.h"

const i16 aspirationDeltas[THREAD_ROWS][5] = {
    {15, 35, 40, 80, 160},  {15, 20, 40, 80, 160}, {11, 19, 31, 49, 76},   {15, 35, 40, 80, 160},
    {50, 40, 80, 160, 320}, {15, 35, 40, 80, 160}, {29, 32, 68, 124, 200}, {15, 35, 40, 80, 160},
    {15, 35, 40, 80, 160},  {29, 32, 68, 124, 200}, {15, 35, 40, 80, 160}, {15, 35, 40, 80, 160},
    {15, 20, 40, 80, 160},  {11, 19, 31, 49, 76},   {50, 40, 80, 160, 320}, {35, 27, 58, 139, 200},
};
const u8 skipPeriod[THREAD_ROWS] = {1, 2, 2, 3, 3, 3, 4, 4, 6, 3, 2, 2, 4, 5, 3, 2};
const u8 skipStep[THREAD_ROWS] = {0, 1, 0, 1, 1, 0, 0, 2, 1, 0, 1, 1, 2, 1, 1, 0};
#ifdef DRAVLIN_TUNE
rootValues netRootTuned = netRootStart;
#endif

namespace {

constexpr std::memory_order relaxed = std::memory_order_relaxed;

}  // namespace

worker::worker(u32 index, searchControl& ctl) : control(ctl), threadIndex(index), brd{} {
  std::memset(moveBuffer, 0, sizeof moveBuffer);
  std::memset(pairHistory2, 0, sizeof pairHistory2);
  std::memset(pairHistory1, 0, sizeof pairHistory1);
  resetThreadBoard(brd);
  brd.plies[0].listStart = moveBuffer;
  brd.pairHistory2 = pairHistory2;
  brd.pairHistory1 = pairHistory1;
  brd.control = &control;
}

void worker::takePosition(const board& position, const nnue::network* net) {
  std::memcpy(static_cast<void*>(&brd), &position, sizeof(board));
  brd.plies[0].listStart = moveBuffer;
  brd.pairHistory2 = pairHistory2;
  brd.pairHistory1 = pairHistory1;
  brd.control = &control;
  nnue::attach(brd, accumulators, net);
}

void worker::readyForSearch(const board& position, const nnue::network* net, const std::vector<chessMove>& allowed) {
  takePosition(position, net);
  brd.nodes = brd.qNodes = brd.tbHits = 0;
  brd.selDepth = 0;
  brd.pvLast = 0;
  trimKeyHistory(brd);
  currentDepth.store(0, relaxed);
  firstRootMove = 0;
  rootAllowed = allowed;
  savedBest = savedPonder = 0;
  answeredAtOnce = scoreShown = false;
  const std::size_t lineRoom = std::size_t(std::clamp(control.multiPv, 1, MAX_ROOT_MOVES));
  if (lines.size() < lineRoom) {
    lines.resize(lineRoom);
    nextLines.resize(lineRoom);
  }
}

void readyControl(searchControl& ctl, const board& root) {
  ctl.stop.store(false, relaxed);
  ctl.finished.store(false, relaxed);
  ctl.deepestDepth.store(0, relaxed);
  ctl.elapsedMs.store(0, relaxed);
  ctl.rootDrawn = drawnByMaterial(root);
  hashTable.newSearch();
}

bool pvMoveFits(chessMove m, board& b, u8 ply) {
  // The records of a walked variation carry no check flag of their own.
  b.plies[ply].inCheck = kingAttacked(b, b.sideToMove) ? 1 : 0;
  return isPseudoLegal(m, b, ply);
}

namespace {

// After a move: the fifty-move rule, or the search's repetition rule (the
// position seen before since the last irreversible move, four or more plies
// back). A threefold repetition is always preceded by such a one.
bool drawnAfterMove(const board& b) {
  if (b.halfMoves >= FIFTY_MOVE_PLIES) return true;
  const int lowest = std::max(b.keyCount - b.halfMoves - 1, 0);
  for (int i = b.keyCount - 5; i >= lowest; i -= 2)
    if (b.keyHistory[i] == b.hashKey) return true;
  return false;
}

}  // namespace

void extractPv(board& b, int maxLength, chessMove first) {
  b.pvLast = 0;
  b.pvShown = 0;
  // Each move made writes the record of the next ply and one key.
  maxLength = std::min(maxLength, MAX_PLY);
  maxLength = std::min(maxLength, KEY_HISTORY_SIZE - int(b.keyCount));
  int made = 0;
  for (int k = 0; k < maxLength; ++k) {
    chessMove m = k == 0 ? first : 0;
    if (m == 0) {
      const hashEntry e = hashTable.probe(b.hashKey);
      m = entryMove(e);
      if (entryBound(e) != BOUND_EXACT || m == 0) break;
    }
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
    // The walk goes on: the reply after the first move is still the ponder move.
    if (b.pvShown == 0 && drawnAfterMove(b)) b.pvShown = u8(made);
  }
  for (int k = made - 1; k >= 0; --k) unmakeMove(b, u8(k), b.plies[k].bestMove);
}

namespace {

int aspirationDelta(int row, int step, const rootValues& v) {
  return aspirationDeltas[row][step] * v.aspirationDelta / ASPIRATION_DELTA_UNIT;
}

}  // namespace

void openWindow(aspirationWindow& w, int row, int depth, int prevScore, const rootValues& v) {
  if (depth >= ASPIRATION_FROM_DEPTH) {
    w.alpha = prevScore - aspirationDelta(row, 0, v);
    w.beta = prevScore + aspirationDelta(row, 0, v);
  }
  w.failLows = w.failHighs = 0;
}

bool widenWindow(aspirationWindow& w, int row, int score, const rootValues& v) {
  if (score <= w.alpha) {
    ++w.failLows;
    w.failHighReduction = 0;
    w.beta = (w.alpha + w.beta) / 2;
    w.alpha = w.failLows <= ASPIRATION_STEPS ? score - aspirationDelta(row, w.failLows, v) : -MATE_SCORE;
    return true;
  }
  if (score >= w.beta) {
    ++w.failHighs;
    ++w.failHighReduction;
    w.beta = w.failHighs <= ASPIRATION_STEPS ? score + aspirationDelta(row, w.failHighs, v) : MATE_SCORE;
    return true;
  }
  return false;
}

double nextTimeFactor(double timeFactor, int depth, int instability, const rootValues& v) {
  if (depth < TIME_FACTOR_FROM_DEPTH) return 1.0;
  if (instability <= 1) {
    timeFactor *= v.stableTimeShrink / 1000.0;
  } else {
    const double x = v.timePerInstability / 1000.0 * instability;
    timeFactor = timeFactor <= 1.0 ? 1.0 + x : timeFactor * (v.unstableTimeKeep / 1000.0) + x;
  }
  return std::clamp(timeFactor, MIN_TIME_FACTOR, std::max(MIN_TIME_FACTOR, v.maxTimeFactor / 1000.0));
}

int skipLimit(int threads) { return threads <= 3 ? threads / 2 : threads / 2 + 1; }

namespace {

i64 refreshElapsed(searchControl& ctl) {
  const i64 e = nowMs() - ctl.startMs.load(relaxed);
  ctl.elapsedMs.store(e, relaxed);
  return e;
}

bool mateWithinDepth(int score, int depth) {
  return (score >= MATE_BAND && MATE_SCORE - score <= depth) || (score <= -MATE_BAND && score + MATE_SCORE <= depth);
}

// "go mate N": a proven mate in N moves or fewer for the side to move.
bool mateLimitReached(const searchControl& ctl, int score) {
  return ctl.limits.mate > 0 && score >= MATE_BAND && mateMoves(score) <= ctl.limits.mate;
}

// The boss, while its first window fails high or holds, stops a search that
// has used its soft budget (scaled by the time factor) mid-iteration.
void stopWhenOverBudget(worker& w, const aspirationWindow& window, int iterLimit, double timeFactor) {
  searchControl& ctl = w.control;
  if (!w.isBoss() || window.failLows != 0 || ctl.unbounded() || iterLimit != 0) return;
  if (double(refreshElapsed(ctl)) > double(ctl.softTime.load(relaxed)) * timeFactor) ctl.requestStop();
}

i16 toWindow(int v) { return i16(std::clamp(v, -32767, 32767)); }

// The finished lines of an iteration, best first, take the place of the
// shown ones; after a stop, shown lines of other moves fill up the count.
void mergeLines(worker& w, int done, int wanted) {
  std::stable_sort(w.nextLines.begin(), w.nextLines.begin() + done,
                   [](const rootLine& x, const rootLine& y) { return x.score > y.score; });
  int n = done;
  for (int i = 0; i < w.linesShown && n < wanted; ++i) {
    bool taken = false;
    for (int j = 0; j < done && !taken; ++j) taken = sameMove(w.nextLines[j].pv[0], w.lines[i].pv[0]);
    if (!taken) w.nextLines[n++] = w.lines[i];
  }
  std::swap(w.lines, w.nextLines);
  w.linesShown = n;
}

}  // namespace

void reportShownLines(const worker& w) {
  const board& b = w.brd;
  const bool numbered = w.control.multiPv > 1;
  const int material = materialCount(b);
  for (int k = 0; k < w.linesShown; ++k)
    reportLine(rootLineText(w.lines[std::size_t(k)], numbered ? k + 1 : 0, b.sideToMove, material, &b.castling));
}

std::string rootLineText(const rootLine& line, int number, int side, int material, const castlingSetup* setup) {
  lineExtras x;
  x.multiPv = number;
  x.wdl = wdlField(line.score, material);
  const int shown = line.pvShown != 0 ? std::min(int(line.pvShown), line.pvLast + 1) : line.pvLast + 1;
  const std::string pv = pvTextOf(line.pv, shown, side, setup);
  const searchTotals t = poolTotals();
  return scoreLine(line.score, line.depth, line.selDepth, t, pv, x);
}

bool prepareRoot(worker& w) {
  board& b = w.brd;
  searchControl& ctl = w.control;
  const bool isBoss = w.isBoss();

  // A node limit is polled from the first node on, so a small one is not
  // passed by a whole interval.
  b.nodesToClockCheck = ctl.limits.nodes || ctl.limits.capNodes ? 0 : CLOCK_CHECK_NODES;
  b.plies[0].killer1 = b.plies[0].killer2 = 0;
  ctl.finished.store(false, relaxed);
  generateLegal(0, b.plies[0].listStart, b);
  const long rootMoves = b.plies[0].listEnd - b.plies[0].listStart;

  // "searchmoves": the legal moves it did not name are left out.
  b.rootSkipCount = 0;
  w.firstRootMove = 0;
  for (const chessMove* m = b.plies[0].listStart; m != b.plies[0].listEnd; ++m) {
    const bool allowed = w.rootAllowed.empty() ||
                         std::any_of(w.rootAllowed.begin(), w.rootAllowed.end(),
                                     [&](chessMove a) { return sameMove(a, *m); });
    if (!allowed)
      b.rootSkip[b.rootSkipCount++] = *m;
    else if (w.firstRootMove == 0)
      w.firstRootMove = *m;
  }
  const int baseSkip = b.rootSkipCount;
  const int allowedMoves = int(rootMoves) - baseSkip;
  w.lineCount = std::min(std::clamp(ctl.multiPv, 1, MAX_ROOT_MOVES), allowedMoves);
  const int lineCount = w.lineCount;
  // Several lines, or a root with moves left out, are searched line by line;
  // otherwise the root is searched whole, as it always was.
  w.byLines = baseSkip > 0 || lineCount > 1;
  w.linesShown = 0;
  if (w.byLines && int(w.lines.size()) < lineCount) w.byLines = false;  // no room: never happens after startSearch

  b.rootDepthComplete = 1;
  b.rootDepth = 0;
  b.rootScore = NO_EVAL;

  w.finishedDepth = 0;

  // A root without moves, or one the tablebases answer, needs no search and
  // no helper. The stop flag stays clear: under "ponder" or "infinite" the boss
  // still holds its answer until "ponderhit" or "stop".
  if (rootMoves == 0) {
    if (!isBoss) return false;
    const bool mated = b.plies[0].inCheck;
    const std::string wdl = ctl.showWdl ? wdlField(wdlChances{0, mated ? 0 : 1000, mated ? 1000 : 0}) : "";
    reportLine((mated ? MATED_ROOT_LINE : STALEMATE_ROOT_LINE) + wdl);
    b.plies[0].bestMove = 0;
    b.pvLast = 0;
    w.byLines = false;
    ctl.elapsedMs.store(1, relaxed);
    w.answeredAtOnce = w.scoreShown = true;
    return false;
  }
  // With several lines the root is searched, so that there are lines to show
  // (the tables still answer inside the search).
  if (isBoss && lineCount == 1 && tbInfo.largest > 0 && b.plies[0].castleRights == 0 &&
      popCount(occupancy(b)) <= tbInfo.largest) {
    int score = 0;
    const chessMove m = baseSkip > 0 ? tbProbeRoot(b, score, w.rootAllowed.data(), int(w.rootAllowed.size()))
                                     : tbProbeRoot(b, score);
    if (m) {
      const std::string wdl =
          ctl.showWdl ? wdlField(wdlChances{score > 0 ? 1000 : 0, score == 0 ? 1000 : 0, score < 0 ? 1000 : 0})
                                : "";
      reportLine(tablebaseRootLine(score, m, b.sideToMove, wdl));
      b.plies[0].bestMove = m;
      b.pvLast = 0;
      w.byLines = false;
      ctl.elapsedMs.store(1, relaxed);
      b.rootDepthComplete = 1;
      b.rootDepth = TABLEBASE_DEPTH;
      w.answeredAtOnce = w.scoreShown = true;
      return false;
    }
  }
  return true;
}

void deepen(worker& w, std::span<worker* const> pool) {
  board& b = w.brd;
  searchControl& ctl = w.control;
  const bool isBoss = w.isBoss();
  const int row = int(w.threadIndex % THREAD_ROWS);
  // The values of the evaluation in use; the search picks its own likewise.
  const rootValues& values = rootValuesFor(b.accumulators != nullptr);
  const i64 minTime = std::max<i64>(HELPER_MIN_TIME_MS, ctl.softTime.load(relaxed) / HELPER_MIN_TIME_DIVISOR);
  const long rootMoves = b.plies[0].listEnd - b.plies[0].listStart;
  const int baseSkip = b.rootSkipCount;
  const int lineCount = w.lineCount;

  const int iterLimit = rootMoves == 1 ? SINGLE_MOVE_DEPTH : ctl.limits.depthLimit;
  const int limit = skipLimit(int(pool.size()));

  int d = 0;
  int prevScore = NO_EVAL;
  aspirationWindow win;
  double timeFactor = 1.0;
  bool keepGoing = true;
  // By lines: each line's own window and last score.
  aspirationWindow lineWindows[MAX_ROOT_MOVES];
  int linePrevScore[MAX_ROOT_MOVES];
  std::fill(linePrevScore, linePrevScore + MAX_ROOT_MOVES, int(NO_EVAL));

  do {
    ++d;
    if (!isBoss) {
      if ((row + d) % skipPeriod[row] == 0) d = std::min(MAX_ITERATION_DEPTH, d + skipStep[row]);
      if (d >= REPORTED_FROM_DEPTH) {
        int ahead = 0;
        for (worker* other : pool)
          if (other != &w && other->currentDepth.load(relaxed) >= d) ++ahead;
        if (ahead >= limit) continue;  // straight to the loop test
      }
    }
    w.currentDepth.store(d, relaxed);
    int score = 0;
    bool finished = false;
    int linesDone = 0;

    if (!w.byLines) {
      openWindow(win, row, d, prevScore, values);
      b.bestMoveChanges = 0;
      if (!ctl.stopped()) {
        for (;;) {
          score = alphaBeta(0, std::max(1, d - win.failHighReduction), toWindow(win.alpha), toWindow(win.beta), b);
          if (!widenWindow(win, row, score, values)) {
            finished = !ctl.stopped();
            break;
          }
          stopWhenOverBudget(w, win, iterLimit, timeFactor);
          if (ctl.stopped()) break;
        }
      }
    } else {
      // Line k searches the allowed moves that lines 1..k-1 of this
      // iteration have not taken. The first line rules the clock.
      u16 changes = 0;
      for (int k = 0; k < lineCount && !ctl.stopped(); ++k) {
        b.rootSkipCount = u16(baseSkip + k);
        aspirationWindow& lw = lineWindows[k];
        openWindow(lw, row, d, linePrevScore[k], values);
        b.bestMoveChanges = 0;
        bool exact = false;
        for (;;) {
          score = alphaBeta(0, std::max(1, d - lw.failHighReduction), toWindow(lw.alpha), toWindow(lw.beta), b);
          if (!widenWindow(lw, row, score, values)) {
            exact = !ctl.stopped();
            break;
          }
          if (k == 0) stopWhenOverBudget(w, lw, iterLimit, timeFactor);
          if (ctl.stopped()) break;
        }
        if (k == 0) {
          changes = b.bestMoveChanges;
          win.failLows = lw.failLows;
          win.failHighs = lw.failHighs;
        }
        if (!exact) break;
        const chessMove chosen = b.plies[0].bestMove;
        rootLine& line = w.nextLines[std::size_t(k)];
        line.score = i16(score);
        line.depth = i16(d);
        line.selDepth = b.selDepth;
        extractPv(b, d, chosen);
        line.pvLast = b.pvLast;
        line.pvShown = b.pvShown;
        for (int j = 0; j <= b.pvLast; ++j) line.pv[j] = b.plies[j].bestMove;
        b.rootSkip[baseSkip + k] = chosen;
        ++linesDone;
      }
      b.rootSkipCount = u16(baseSkip);
      b.bestMoveChanges = changes;
      finished = linesDone == lineCount;
      if (linesDone > 0) mergeLines(w, linesDone, lineCount);
      if (finished) {
        score = w.lines[0].score;
        for (int k = 0; k < lineCount; ++k) linePrevScore[k] = w.lines[std::size_t(k)].score;
      }
    }

    if (finished) {
      prevScore = score;
      b.rootScore = i16(score);
      if (isBoss && d >= REPORTED_FROM_DEPTH && !w.byLines) hashTable.store(b.hashKey, b.plies[0].bestMove, i16(score), d, BOUND_EXACT);
      b.rootDepthComplete = 1;
      b.rootDepth = u16(d);
      w.finishedDepth = d;
    }

    int instability = b.bestMoveChanges;
    if (win.failLows > 1 || win.failHighs > 1) instability += std::max(win.failLows, win.failHighs) - 1;
    const i64 elapsed = refreshElapsed(ctl);

    if (isBoss && !w.byLines) {
      if (d >= REPORTED_FROM_DEPTH) {
        extractPv(b, d);
        if (!ctl.stopped() && b.pvLast > 0) {
          w.savedBest = b.plies[0].bestMove;
          w.savedPonder = b.plies[1].bestMove;
        }
        reportLine(scoreLine(prevScore, d, b.selDepth, poolTotals(), pvText(b),
                             lineExtras{0, wdlField(prevScore, materialCount(b))}));
        w.scoreShown = true;
      }
      // A finished iteration's proof stands even when another thread's proof
      // has just stopped the search.
      if (finished && (mateWithinDepth(prevScore, d) || mateLimitReached(ctl, prevScore))) {
        // Deep enough, the line above has already shown it in the mate form.
        if (d < REPORTED_FROM_DEPTH)
          reportLine(mateLine(prevScore, d, poolTotals(), pvText(b), lineExtras{0, wdlField(prevScore, 0)}));
        w.scoreShown = true;
        // A proven mate ends the iterations; while pondering the answer then
        // waits for "ponderhit", which releases it at once.
        if (!ctl.infinite.load(relaxed)) break;
      }
    } else if (isBoss) {
      const bool mateProven = finished && (mateWithinDepth(prevScore, d) || mateLimitReached(ctl, prevScore));
      if (linesDone > 0 && (d >= REPORTED_FROM_DEPTH || mateProven)) {
        reportShownLines(w);
        w.scoreShown = true;
      }
      if (mateProven && !ctl.stopped() && !ctl.unbounded()) break;
    }

    timeFactor = nextTimeFactor(timeFactor, d, instability, values);

    bool decides = isBoss;
    if (!isBoss && elapsed > minTime && d > ctl.deepestDepth.load(relaxed)) {
      ctl.deepestDepth.store(d, relaxed);
      decides = true;
    }
    if (decides) {
      if (iterLimit == 0) {
        if (double(elapsed) * ctl.elapsedScale > double(ctl.softTime.load(relaxed)) * timeFactor)
          ctl.finished.store(true, relaxed);
        if (ctl.limits.softNodes != 0 && ctl.poolNodes && ctl.poolNodes() >= ctl.limits.softNodes)
          ctl.finished.store(true, relaxed);
        keepGoing = ctl.pondering.load(relaxed) ? true : !ctl.finished.load(relaxed);
      } else if (d >= iterLimit) {
        keepGoing = false;
      }
      if (ctl.infinite.load(relaxed)) keepGoing = true;
    }
    // Another thread's proof ends the search too; the boss ended above.
    if (!isBoss && mateLimitReached(ctl, prevScore) && !ctl.unbounded()) keepGoing = false;
  } while (!ctl.stopped() && d < MAX_ITERATION_DEPTH && keepGoing);

  // By lines, the answer is the first shown line.
  if (w.byLines && w.linesShown > 0) {
    const rootLine& first = w.lines[0];
    for (int j = 0; j <= first.pvLast; ++j) b.plies[j].bestMove = first.pv[j];
    b.pvLast = first.pvLast;
    b.pvShown = first.pvShown;
    b.rootScore = first.score;
  }

  refreshElapsed(ctl);
  // A limit reached while pondering ends only this thread's iterations: the
  // answer waits for "ponderhit", which then releases it at once.
  if (!keepGoing && !ctl.pondering.load(relaxed)) ctl.requestStop();
}
