#include <gtest/gtest.h>

#include <climits>

#include "testutil.h"
#include "uci/go.h"
#include "uci/limits.h"
#include "uci/options.h"

namespace {

// The globals allotTime reads, set to a game's first move with one thread.
struct AllotTime : ::testing::Test {
  void SetUp() override {
    ensureTables();
    setFromFen(START_FEN, currentBoard);
    limits = searchLimits{};
    moveOverhead = 100;
    threadCount = 1;
    ponderOption = 0;
    gamePlyCount = 0;
    newGame = 1;
    incFactor = 1.37f;
  }
  void TearDown() override {
    limits = searchLimits{};
    moveOverhead = 100;
    threadCount = 1;
    ponderOption = 0;
    newGame = 1;
    incFactor = 1.37f;
    gamePlyCount = 0;
  }
  static void clocks(int ms, int inc = 0) {
    limits.clock[WHITE] = limits.clock[BLACK] = ms;
    limits.increment[WHITE] = limits.increment[BLACK] = inc;
  }
};

}  // namespace

TEST_F(AllotTime, FirstMoveOfNewGameFixesIncFactor) {
  clocks(60000);
  allotTime();
  EXPECT_FLOAT_EQ(incFactor, 1.75f);
  EXPECT_EQ(newGame, 0);
  EXPECT_EQ(limits.movesToGo, 40);
  EXPECT_EQ(softTime.load(), 990);
  EXPECT_EQ(hardTime.load(), 4950);
  EXPECT_FLOAT_EQ(elapsedScale, 1.0f);

  // The factor stays for the game: an increment at the next "go" does not
  // recompute it (n = 40 * 1.75 = 70, total = 60000 + 1000 * 69).
  clocks(60000, 1000);
  allotTime();
  EXPECT_FLOAT_EQ(incFactor, 1.75f);
  EXPECT_EQ(softTime.load(), 2128);  // (129000 / 40) * 0.66
}

TEST_F(AllotTime, IncrementGameAfterNewGame) {
  clocks(60000, 1000);
  allotTime();
  EXPECT_FLOAT_EQ(incFactor, 1.37f);
  EXPECT_EQ(softTime.load(), 1864);
  EXPECT_EQ(hardTime.load(), 9320);
}

TEST_F(AllotTime, MoveTimeAndDefaultClocks) {
  limits.moveTime = 5000;
  allotTime();
  EXPECT_EQ(hardTime.load(), 5000);
  EXPECT_EQ(softTime.load(), 50000);

  // "go depth 12" alone still gets budgets from the 900000 ms defaults.
  SetUp();
  limits.depthLimit = 12;
  allotTime();
  EXPECT_EQ(hardTime.load(), 74250);
}

TEST_F(AllotTime, MovesToGoOneUsesTheWholeClock) {
  clocks(10000);
  limits.movesToGo = 1;
  limits.movesToGoGiven = 1;
  allotTime();
  EXPECT_EQ(softTime.load(), 6570);
  EXPECT_EQ(hardTime.load(), 9900);
}

TEST_F(AllotTime, StageThreadsAndPonderShapeTheFraction) {
  // Unknown game stage: 30 moves and the fraction times 1.4.
  gamePlyCount = 1024;
  newGame = 0;
  clocks(61000);
  allotTime();
  EXPECT_EQ(limits.movesToGo, 30);
  EXPECT_EQ(softTime.load(), 1878);  // (61000 / 30) * 0.66 * 1.4

  // Late middlegame, four threads, Ponder on: m = 20, f = 0.72 * 1.1.
  gamePlyCount = 120;
  threadCount = 4;
  ponderOption = 1;
  clocks(60000);
  allotTime();
  EXPECT_EQ(limits.movesToGo, 20);
  EXPECT_EQ(softTime.load(), 2376);  // (60000 / 20) * 0.72 * 1.1
}

TEST_F(AllotTime, ShortClockHalvesBudgetsAndScalesElapsed) {
  newGame = 0;
  gamePlyCount = 30;  // m = 22
  clocks(1000);
  moveOverhead = 900;
  allotTime();
  // soft = (1000 / 22) * 0.66 = 29, hard = min(145, 50); avail 100 / 29 < 4.
  EXPECT_FLOAT_EQ(elapsedScale, 5.0f);
  EXPECT_EQ(softTime.load(), 14);
  EXPECT_EQ(hardTime.load(), 25);
}

TEST_F(AllotTime, HostileClockValuesStayPositiveAndFinite) {
  newGame = 0;
  clocks(-5000, -100);
  allotTime();
  EXPECT_GE(softTime.load(), 1);
  EXPECT_GE(hardTime.load(), 1);

  clocks(INT32_MAX, INT32_MAX);
  newGame = 1;
  allotTime();
  EXPECT_GE(softTime.load(), 1);
  EXPECT_GE(hardTime.load(), softTime.load());

  clocks(10000);
  limits.movesToGo = 0;
  limits.movesToGoGiven = 1;
  allotTime();  // no division by zero
  EXPECT_GE(softTime.load(), 1);

  limits = searchLimits{};
  limits.moveTime = INT32_MAX;
  allotTime();
  EXPECT_EQ(softTime.load(), INT32_MAX);
}
