#include <gtest/gtest.h>

#include <climits>

#include "testutil.h"
#include "engine/threads.h"
#include "search/limits.h"
#include "uci/go.h"
#include "uci/options.h"

namespace {

searchLimits& limits = searchThreads.control.limits;

// The first "go" of a new game, White to move, one thread, MoveOverhead 100.
struct AllotTime : ::testing::Test {
  void SetUp() override {
    ensureTables();
    setFromFen(START_FEN, currentBoard);
    reset();
  }
  void TearDown() override { reset(); }
  static void reset() {
    limits = searchLimits{};
    game = gameState{};
    searchThreads.control.threads = 1;
  }
  static void clocks(int ms, int inc = 0) {
    limits.clock[WHITE] = limits.clock[BLACK] = ms;
    limits.increment[WHITE] = limits.increment[BLACK] = inc;
  }
  static void expectBudgets(int soft, int hard) {
    allotTime();
    EXPECT_EQ(searchThreads.control.softTime.load(), soft);
    EXPECT_EQ(searchThreads.control.hardTime.load(), hard);
  }
};

}  // namespace

TEST_F(AllotTime, IncFactorIsFixedAtTheFirstGoOfAGame) {
  clocks(60000);
  expectBudgets(990, 4950);  // m = 40, game.incFactor 1.75, n = 70
  EXPECT_FLOAT_EQ(game.incFactor, 1.75f);
  EXPECT_FALSE(game.newGame);
  // Kept for the game: n stays 70, total = 60000 + 1000 * 69.
  clocks(60000, 1000);
  expectBudgets(2128, 10640);

  reset();  // "ucinewgame"
  clocks(60000, 1000);
  expectBudgets(1864, 9320);
  EXPECT_FLOAT_EQ(game.incFactor, 1.37f);
}

TEST_F(AllotTime, MoveTimeMovesToGoAndDefaultClocks) {
  limits.moveTime = 5000;
  expectBudgets(50000, 5000);
  // "go depth 12" alone still has budgets from the 900000 ms defaults.
  reset();
  limits.depthLimit = 12;
  expectBudgets(14850, 74250);
  // One move to go: the whole clock less the overhead.
  reset();
  clocks(10000);
  limits.movesToGo = 1;
  limits.movesToGoGiven = 1;
  expectBudgets(6570, 9900);
}

TEST_F(AllotTime, StageThreadsPonderAndShortClocks) {
  game.newGame = false;
  game.plyCount = 1024;  // stage unknown: 30 moves, fraction times 1.4
  clocks(61000);
  expectBudgets(1878, 9390);
  EXPECT_EQ(limits.movesToGo, 30);

  game.plyCount = 120;  // m = 20; four threads and Ponder: 0.72 * 1.1
  searchThreads.control.threads = 4;
  game.ponder = true;
  clocks(60000);
  expectBudgets(2376, 11880);

  reset();
  game.newGame = false;
  game.plyCount = 30;  // m = 22: soft 29, hard 50, but avail 100 / 29 < 4
  clocks(1000);
  game.moveOverhead = 900;
  expectBudgets(14, 25);
  EXPECT_FLOAT_EQ(searchThreads.control.elapsedScale, 5.0f);
}

TEST_F(AllotTime, LargeIncrementsNeverBudgetBeyondTheClock) {
  game.newGame = false;
  game.plyCount = 58;  // move 30: soft 8764 from the increments, on a 2 s clock
  clocks(2000, 10000);
  expectBudgets(1899, 1900);
  clocks(150, 10000);
  expectBudgets(49, 50);
}

TEST_F(AllotTime, HostileClocksGivePositiveFiniteBudgets) {
  auto sane = [] {
    allotTime();
    EXPECT_GE(searchThreads.control.softTime.load(), 1);
    EXPECT_GT(searchThreads.control.hardTime.load(), 0);
  };
  clocks(-5000, -100);
  sane();
  game.newGame = true;
  clocks(INT32_MAX, INT32_MAX);
  sane();
  clocks(10000);
  limits.movesToGo = 0;  // no division by zero
  limits.movesToGoGiven = 1;
  sane();
  limits = searchLimits{};
  limits.moveTime = INT32_MAX;
  sane();
  EXPECT_EQ(searchThreads.control.softTime.load(), INT32_MAX);
}
