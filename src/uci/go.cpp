#include "uci/go.h"

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "board/board.h"
#include "board/clock.h"
#include "engine/strength.h"
#include "engine/threads.h"
#include "movegen/movegen.h"
#include "movegen/movetext.h"
#include "search/limits.h"
#include "search/tt.h"
#include "uci/commands.h"
#include "uci/options.h"
#include "uci/output.h"

i32 gamePlyCount = 0;
u8 newGame = 1;
float incFactor = 1.37f;

namespace {

constexpr std::memory_order relaxed = std::memory_order_relaxed;

// Budgets stay within 1 ms .. INT32_MAX ms whatever the clocks said.
i32 clampMs(double v) { return i32(std::clamp(v, 1.0, double(INT32_MAX))); }

}  // namespace

void allotTime() {
  const int c = currentBoard.sideToMove & 1;
  // A clock below zero means no time left; i64 keeps T + I * (n - 1) exact.
  const i64 T = std::max<i32>(limits.clock[c], 0);
  const i64 I = std::max<i32>(limits.increment[c], 0);
  const i64 O = moveOverhead;
  const int N = threadCount;
  const int G = gamePlyCount;
  const bool given = limits.movesToGoGiven != 0;

  double f;
  i64 m;
  if (given) {
    f = N < 4 ? 0.73 : 0.8;
    if (G < 18)
      f *= 0.9;
    else if (G < 51)
      f *= 1.1;
    // A count of zero or less would divide by zero; one move is the closest sense.
    m = std::max<i32>(limits.movesToGo, 1);
  } else {
    f = N < 4 ? 0.66 : 0.72;
    if (G == 1024) {
      m = 30;
      f *= 1.4;
    } else if (G < 18) {
      m = 40;
    } else if (G < 51) {
      m = 22;
    } else if (G < 81) {
      m = 25;
    } else if (G < 201) {
      m = 20;
    } else {
      m = 15;
    }
    limits.movesToGo = i32(m);
  }

  if (newGame) {
    const i64 r = std::clamp<i64>(T / std::max<i64>(1, I), 100, 360);
    incFactor = float(1.37 + double(r - 100) * 0.0014615385);
    newGame = 0;
  }
  if (ponderOption) f *= 1.1;
  elapsedScale = 1.0f;

  const i64 n = given ? m : i64(double(m) * double(incFactor));
  const i64 total = T + I * (n - 1);
  const i64 avail = T - O;
  i64 soft = i64(std::max(1.0, double(total / m) * f));
  i64 hard = m == 1 ? total - O : i64(std::min(5.0 * double(soft), double(avail) * 0.5));
  if (given && m == 4) {
    hard = std::max<i64>(hard, 40);
  } else if (!given && avail / soft < 4) {
    elapsedScale = 5.0f;
    soft /= 2;
    hard /= 2;
  }

  if (limits.moveTime > 0) {
    hardTime.store(limits.moveTime, relaxed);
    softTime.store(clampMs(10.0 * limits.moveTime), relaxed);
  } else {
    // The hard stop never reaches into the overhead, even when a large
    // increment makes the soft budget bigger than the clock; soft stays below it.
    const i64 hardMs = std::min(std::max(std::min(hard, avail), soft + 1), avail);
    softTime.store(clampMs(double(std::min(soft, hardMs - 1))), relaxed);
    hardTime.store(clampMs(double(hardMs)), relaxed);
  }
}

namespace {

bool isGoKeyword(const std::string& w) {
  static const char* const keywords[] = {"wtime", "btime", "winc",     "binc",     "movestogo",  "depth",
                                         "mate",  "nodes", "movetime", "infinite", "ponder", "searchmoves"};
  for (const char* k : keywords)
    if (w == k) return true;
  return false;
}

// The legal moves of currentBoard that the texts name, each once, in the
// order given; a text that names none is reported and skipped. The legal list
// goes into the command thread's move buffer, as "position" does.
std::vector<chessMove> resolveSearchMoves(const std::vector<std::string>& texts) {
  board& b = currentBoard;
  generateLegal(0, b.plies[0].listStart, b);
  const chessMove* const first = b.plies[0].listStart;
  const chessMove* const last = b.plies[0].listEnd;
  std::vector<chessMove> allowed;
  for (const std::string& text : texts) {
    chessMove m;
    const chessMove* found = last;
    if (parseMoveText(text, b, m)) found = std::find_if(first, last, [&](chessMove x) { return sameMove(x, m); });
    if (found == last) {
      outLine("info string searchmoves: " + text + " is not a legal move here, skipped");
      continue;
    }
    if (std::none_of(allowed.begin(), allowed.end(), [&](chessMove a) { return sameMove(a, *found); }))
      allowed.push_back(*found);
  }
  if (allowed.empty() && first != last)
    outLine("info string searchmoves names no legal move, all moves are searched");
  return allowed;
}

}  // namespace

void goCommand(std::istringstream& words) {
  const i64 startMs = nowMs();
  searchLimits next;
  bool infinite = false, ponder = false;
  // "searchmoves": the move texts up to the next keyword.
  bool restricted = false, inMoves = false;
  std::vector<std::string> moveTexts;
  std::string word;
  while (words >> word) {
    if (inMoves && !isGoKeyword(word)) {
      if (moveTexts.size() < MAX_ROOT_MOVES * 2) moveTexts.push_back(word);
      continue;
    }
    inMoves = false;
    if (word == "searchmoves") {
      restricted = inMoves = true;
    } else if (word == "wtime") {
      words >> next.clock[WHITE];
    } else if (word == "btime") {
      words >> next.clock[BLACK];
    } else if (word == "winc") {
      words >> next.increment[WHITE];
    } else if (word == "binc") {
      words >> next.increment[BLACK];
    } else if (word == "movestogo") {
      words >> next.movesToGo;
      next.movesToGoGiven = 1;
    } else if (word == "depth") {
      words >> next.depthLimit;
    } else if (word == "mate") {
      words >> next.mate;
    } else if (word == "nodes") {
      words >> next.nodes;
    } else if (word == "movetime") {
      words >> next.moveTime;
    } else if (word == "infinite") {
      infinite = true;
    } else if (word == "ponder") {
      ponder = true;
    }
  }
  // A negative depth has no sense; it counts as no limit.
  next.depthLimit = std::max<i32>(next.depthLimit, 0);

  // The previous search must have reported before its limits are replaced.
  stopSearchAndWait();
  const std::vector<chessMove> allowed = restricted ? resolveSearchMoves(moveTexts) : std::vector<chessMove>{};
  searchStartMs.store(startMs, relaxed);
  limits = next;
  limits.capNodes = beginStrengthSearch();  // the options as they are now hold for this search
  infiniteMode.store(infinite, relaxed);
  pondering.store(ponder, relaxed);
  clockCheckInterval = CLOCK_CHECK_NODES;
  allotTime();
  startSearch(currentBoard, allowed);
}

void stopCommand() { stopFlag.store(1, relaxed); }

void ponderhitCommand() {
  if (!searchFinished.load(relaxed))
    pondering.store(0, relaxed);
  else
    stopFlag.store(1, relaxed);
}

void ucinewgameCommand() {
  stopSearchAndWait();
  hashClear(threadCount);
  clearPairHistories();
  gamePlyCount = 0;
  newGame = 1;
  std::fill(std::begin(currentBoard.keyHistory), std::end(currentBoard.keyHistory), u64(0));
  // No "readyok" here: clients pair every one with an "isready" of their own.
}
