#include "uci/go.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <string>
#include <utility>
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
#include "uci/tuning.h"

gameState game;
#ifdef DRAVLIN_TUNE
timeValues netTimeTuned = netTimeStart;
#endif

namespace {

constexpr std::memory_order relaxed = std::memory_order_relaxed;

// Budgets stay within 1 ms .. INT32_MAX ms whatever the clocks said.
i32 clampMs(double v) { return i32(std::clamp(v, 1.0, double(INT32_MAX))); }

}  // namespace

void allotTime(bool network) {
  const timeValues& v = timeValuesFor(network);
  searchControl& ctl = searchThreads.control;
  searchLimits& limits = ctl.limits;
  const int c = currentBoard.sideToMove & 1;
  // A clock below zero means no time left; i64 keeps T + I * (n - 1) exact.
  const i64 T = std::max<i32>(limits.clock[c], 0);
  const i64 I = std::max<i32>(limits.increment[c], 0);
  const i64 O = game.moveOverhead;
  const int N = ctl.threads;
  const int G = game.plyCount;
  const bool given = limits.movesToGoGiven;

  double f;
  i64 m;
  if (given) {
    f = N < MANY_THREADS ? v.movesGivenFraction / 1000.0 : MOVES_GIVEN_FRACTION_MANY;
    if (G < OPENING_PLIES)
      f *= OPENING_SCALE;
    else if (G < MIDDLEGAME_PLIES)
      f *= MIDDLEGAME_SCALE;
    // A count of zero or less would divide by zero; one move is the closest sense.
    m = std::max<i32>(limits.movesToGo, 1);
  } else {
    f = N < MANY_THREADS ? v.suddenDeathFraction / 1000.0 : SUDDEN_DEATH_FRACTION_MANY;
    if (G == UNKNOWN_GAME_PLY) {
      m = MOVES_LEFT_UNKNOWN;
      f *= UNKNOWN_STAGE_SCALE;
    } else if (G < OPENING_PLIES) {
      m = MOVES_LEFT_OPENING;
    } else if (G < MIDDLEGAME_PLIES) {
      m = MOVES_LEFT_MIDDLEGAME;
    } else if (G < LATE_MIDDLEGAME_PLIES) {
      m = MOVES_LEFT_LATE_MIDDLEGAME;
    } else if (G < ENDGAME_PLIES) {
      m = MOVES_LEFT_ENDGAME;
    } else {
      m = MOVES_LEFT_LATE;
    }
    limits.movesToGo = i32(m);
  }

  if (game.newGame) {
    const i64 r = std::clamp<i64>(T / std::max<i64>(1, I), INC_RATIO_MIN, INC_RATIO_MAX);
    game.incFactor = float(v.incFactorBase / 1000.0 + double(r - INC_RATIO_MIN) * INC_FACTOR_SLOPE);
    game.newGame = false;
  }
  if (game.ponder) f *= PONDER_SCALE;
  ctl.elapsedScale = 1.0f;

  const i64 n = given ? m : i64(double(m) * double(game.incFactor));
  const i64 total = T + I * (n - 1);
  const i64 avail = T - O;
  i64 soft = i64(std::max(1.0, double(total / m) * f));
  i64 hard = m == 1 ? total - O : i64(std::min(v.hardPerSoft / 1000.0 * double(soft), double(avail) * (v.hardClockShare / 1000.0)));
  if (given && m == LAST_MOVES_GIVEN) {
    hard = std::max<i64>(hard, LAST_MOVES_MIN_HARD_MS);
  } else if (!given && avail / soft < SHORT_CLOCK_BUDGETS) {
    ctl.elapsedScale = SHORT_CLOCK_ELAPSED_SCALE;
    soft /= 2;
    hard /= 2;
  }

  if (limits.moveTime > 0) {
    ctl.hardTime.store(limits.moveTime, relaxed);
    ctl.softTime.store(clampMs(MOVETIME_SOFT_SCALE * limits.moveTime), relaxed);
  } else {
    // The hard stop never reaches into the overhead, even when a large
    // increment makes the soft budget bigger than the clock; soft stays below it.
    const i64 hardMs = std::min(std::max(std::min(hard, avail), soft + 1), avail);
    ctl.softTime.store(clampMs(double(std::min(soft, hardMs - 1))), relaxed);
    ctl.hardTime.store(clampMs(double(hardMs)), relaxed);
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
  [[maybe_unused]] bool clocked = false;  // wtime or btime given ("TuneNodes")
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
      clocked = true;
    } else if (word == "btime") {
      words >> next.clock[BLACK];
      clocked = true;
    } else if (word == "winc") {
      words >> next.increment[WHITE];
    } else if (word == "binc") {
      words >> next.increment[BLACK];
    } else if (word == "movestogo") {
      words >> next.movesToGo;
      next.movesToGoGiven = true;
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
#ifdef DRAVLIN_TUNE
  // Games at a fixed node count under a referee that only knows clocks: the
  // clocks are ignored, as if "go nodes N" had come.
  if (game.tuneNodes > 0 && clocked && !infinite && !ponder) {
    next = searchLimits{};
    next.nodes = game.tuneNodes;
  }
#endif

  // The previous search must have reported before its limits are replaced.
  searchThreads.stopSearchAndWait();
  const std::vector<chessMove> allowed = restricted ? resolveSearchMoves(moveTexts) : std::vector<chessMove>{};
  searchControl& ctl = searchThreads.control;
  ctl.startMs.store(startMs, relaxed);
  ctl.limits = next;
  // The options as they are now hold for this search, whatever "setoption"
  // says while it runs; so do the network options.
  ctl.multiPv = game.multiPv;
  ctl.showWdl = game.showWdl;
  std::shared_ptr<const nnue::network> net = takeNetForSearch();
  // Too weak a rating for the network's shallowest searches: the hand-written
  // evaluation plays it, and so does the hand-written search.
  if (game.limitStrength && game.elo < STRENGTH_NETWORK_ELO_MIN) net = nullptr;
  ctl.limits.capNodes = game.limitStrength ? nodeCapForElo(game.elo, net != nullptr) : 0;
  ctl.infinite.store(infinite, relaxed);
  ctl.pondering.store(ponder, relaxed);
  allotTime(net != nullptr);
  searchThreads.startSearch(currentBoard, std::move(net), allowed);
}

std::shared_ptr<const nnue::network> takeNetForSearch() {
  std::string problem;
  std::shared_ptr<const nnue::network> net = netForSearch(game.nets, problem);
  if (!problem.empty()) outLine("info string " + problem + "; the hand-written evaluation is used");
  return net;
}

void stopCommand() { searchThreads.control.requestStop(); }

// A search still iterating goes on under the clock; one that has finished
// iterating was only holding its answer.
void ponderhitCommand() {
  searchControl& ctl = searchThreads.control;
  if (!ctl.finished.load(relaxed))
    ctl.pondering.store(false, relaxed);
  else
    ctl.requestStop();
}

void ucinewgameCommand() {
  searchThreads.stopSearchAndWait();
  hashTable.clear(searchThreads.control.threads);
  searchThreads.clearHistories();
  game.plyCount = 0;
  game.newGame = true;
  std::fill(std::begin(currentBoard.keyHistory), std::end(currentBoard.keyHistory), u64(0));
  // No "readyok" here: clients pair every one with an "isready" of their own.
}
