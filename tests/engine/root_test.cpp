#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "board/clock.h"
#include "engine/report.h"
#include "engine/root.h"
#include "engine/threads.h"
#include "movegen/makemove.h"
#include "movegen/movetext.h"
#include "search/tt.h"
#include "testutil.h"

TEST(RootWindow, RowFourWidensByItsSteps) {
  aspirationWindow w;
  openWindow(w, 4, 5, 100);  // shallow iterations keep the full window
  EXPECT_EQ(w.beta - w.alpha, 2 * 32767);
  openWindow(w, 4, 6, 100);
  EXPECT_EQ(w.alpha, 50);
  EXPECT_EQ(w.beta, 150);
  // Fail lows: alpha = score - 40, 80, 160, 320; beta halves towards alpha.
  const int lows[][3] = {{40, 0, 100}, {-10, -90, 50}, {-100, -260, -20}, {-300, -620, -140}, {-700, -32000, -380}};
  for (const auto& [score, alpha, beta] : lows) {
    EXPECT_TRUE(widenWindow(w, 4, score));
    EXPECT_EQ(w.alpha, alpha);
    EXPECT_EQ(w.beta, beta);
  }
  EXPECT_FALSE(widenWindow(w, 4, -690));
  openWindow(w, 4, 6, 100);
  const int highs[][2] = {{160, 200}, {210, 290}, {300, 460}, {500, 820}, {900, 32000}};
  for (const auto& [score, beta] : highs) {
    EXPECT_TRUE(widenWindow(w, 4, score));
    EXPECT_EQ(w.alpha, 50);
    EXPECT_EQ(w.beta, beta);
  }
}

TEST(RootWindow, FailHighReductionSurvivesIterationsUntilAFailLow) {
  aspirationWindow w;
  openWindow(w, 0, 12, 0);
  for (int i = 0; i < 3; ++i) widenWindow(w, 0, w.beta + 1);
  EXPECT_EQ(12 - w.failHighReduction, 9);
  openWindow(w, 0, 13, 0);
  EXPECT_EQ(13 - w.failHighReduction, 10);
  widenWindow(w, 0, w.alpha - 1);
  EXPECT_EQ(w.failHighReduction, 0);
}

TEST(RootTime, TimeFactorFollowsInstability) {
  EXPECT_DOUBLE_EQ(nextTimeFactor(1.7, 5, 9), 1.0);
  EXPECT_DOUBLE_EQ(nextTimeFactor(1.0, 6, 1), 0.9);
  EXPECT_DOUBLE_EQ(nextTimeFactor(0.62, 7, 0), 0.6);
  EXPECT_DOUBLE_EQ(nextTimeFactor(1.0, 8, 3), 1.6);
  EXPECT_DOUBLE_EQ(nextTimeFactor(1.6, 9, 3), 1.6 * 0.8 + 0.6);
  EXPECT_DOUBLE_EQ(nextTimeFactor(1.0, 9, 10), 2.0);
}

TEST(RootSchedule, HelperRowsAndLimits) {
  EXPECT_EQ(skipLimit(1), 0);
  EXPECT_EQ(skipLimit(2), 1);
  EXPECT_EQ(skipLimit(3), 1);
  EXPECT_EQ(skipLimit(4), 3);
  EXPECT_EQ(skipLimit(8), 5);
  // Thread 1 searches only even depths.
  int d = 0;
  for (int expected = 2; expected <= 20; expected += 2) {
    ++d;
    if ((1 + d) % skipPeriod[1] == 0) d += skipStep[1];
    EXPECT_EQ(d, expected);
  }
}

TEST(RootPv, MoveFitnessRejectsWhatCannotBePlayed) {
  auto mv = [](int from, int to, int kind, int piece) { return makeChessMove(from, to, kind) | (u32(piece) << 24); };
  // Black has just played d7d5 next to the e5 pawn.
  testBoard b("r3k2r/8/8/3pP3/8/8/8/R3K2R w KQkq - 0 1");
  b->plies[0].epSquare = 35;
  EXPECT_TRUE(pvMoveFits(mv(36, 35, EN_PASSANT, WHITE_PAWN), *b, 0));
  EXPECT_TRUE(pvMoveFits(mv(0, 56, MOVE_NORMAL, WHITE_ROOK), *b, 0));
  EXPECT_FALSE(pvMoveFits(mv(36, 28, MOVE_NORMAL, WHITE_PAWN), *b, 0));     // backwards
  EXPECT_FALSE(pvMoveFits(mv(36, 44, PROMOTE_QUEEN, WHITE_PAWN), *b, 0));  // not the last rank
  EXPECT_FALSE(pvMoveFits(mv(36, 35, EN_PASSANT, BLACK_PAWN), *b, 0));     // wrong piece code
  EXPECT_FALSE(pvMoveFits(mv(4, 6, 3, WHITE_KING), *b, 0));                // unknown kind
  b->plies[0].epSquare = 0;
  EXPECT_FALSE(pvMoveFits(mv(36, 35, EN_PASSANT, WHITE_PAWN), *b, 0));

  // A bishop on a6 covers f1: no short castling; the long side is free.
  testBoard c("4k3/8/b7/8/8/8/8/R3K2R w KQ - 0 1");
  EXPECT_FALSE(pvMoveFits(mv(4, 6, CASTLE_SHORT, WHITE_KING), *c, 0));
  EXPECT_TRUE(pvMoveFits(mv(4, 2, CASTLE_LONG, WHITE_KING), *c, 0));
  c->plies[0].castleRights = CASTLE_WK;
  EXPECT_FALSE(pvMoveFits(mv(4, 2, CASTLE_LONG, WHITE_KING), *c, 0));
}

TEST(RootPv, ExtractionFollowsExactEntriesAndRestoresTheBoard) {
  ensureTables();
  hashTable.resize(1, 1);
  testBoard b;
  const board before = *b;
  const chessMove line[] = {makeChessMove(12, 28, DOUBLE_PUSH) | (u32(WHITE_PAWN) << 24),
                            makeChessMove(52, 36, DOUBLE_PUSH) | (u32(BLACK_PAWN) << 24),
                            makeChessMove(6, 21) | (u32(WHITE_KNIGHT) << 24)};
  u64 keys[3];
  for (int k = 0; k < 3; ++k) {
    keys[k] = b->hashKey;
    hashTable.store(keys[k], line[k], 10, 5, BOUND_EXACT);
    makeMove(*b, u8(k), line[k]);
  }
  for (int k = 2; k >= 0; --k) unmakeMove(*b, u8(k), line[k]);

  extractPv(*b, 10);
  EXPECT_EQ(b->pvLast, 2);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(b->plies[k].bestMove, line[k]);
  EXPECT_EQ(b->hashKey, before.hashKey);
  EXPECT_EQ(b->keyCount, before.keyCount);
  EXPECT_EQ(0, std::memcmp(b->pieceOn, before.pieceOn, sizeof before.pieceOn));

  extractPv(*b, 2);  // maxLength bounds the walk
  EXPECT_EQ(b->pvLast, 1);

  // A lower bound ends the variation; so does a move that cannot be played.
  hashTable.store(keys[1], line[1], 10, 5, BOUND_LOWER);
  extractPv(*b, 10);
  EXPECT_EQ(b->pvLast, 0);
  hashTable.store(keys[0], line[1], 10, 5, BOUND_EXACT);  // Black's move, White to play
  b->plies[0].bestMove = 77;
  extractPv(*b, 10);
  EXPECT_EQ(b->pvLast, 0);
  EXPECT_EQ(b->plies[0].bestMove, 77u);  // the search's move stays
  hashTable.clear(1);
}

TEST(RootPv, PrintedLineEndsAtTheMoveThatMakesADraw) {
  ensureTables();
  hashTable.resize(1, 1);
  // Knights out and back: the table's line runs round the cycle for as long
  // as the walk lasts.
  const char* const cycle[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
  testBoard b;
  chessMove moves[4];
  for (int k = 0; k < 4; ++k) {
    ASSERT_TRUE(parseMoveText(cycle[k], *b, moves[k]));
    moves[k] |= u32(b->pieceOn[moveFrom(moves[k])]) << 24;  // as the search stores them
    hashTable.store(b->hashKey, moves[k], 0, 5, BOUND_EXACT);
    makeMove(*b, u8(k), moves[k]);
  }
  for (int k = 3; k >= 0; --k) unmakeMove(*b, u8(k), moves[k]);

  // Back at the root after four moves: where the search scored the draw.
  extractPv(*b, 10);
  EXPECT_EQ(b->pvLast, 9);  // the walk itself, and so the ponder move, is unchanged
  EXPECT_EQ(pvText(*b), "g1f3 g8f6 f3g1 f6g8 ");

  // The fifty-move rule: the third move is the hundredth without a capture
  // or a pawn move.
  testBoard late("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 97 60");
  extractPv(*late, 10);
  EXPECT_EQ(pvText(*late), "g1f3 g8f6 f3g1 ");

  // The game has been there: the first move repeats one of its positions.
  for (const chessMove m : moves) {
    makeMove(*b, 0, m);
    b->plies[0].castleRights = b->plies[1].castleRights;
    b->plies[0].epSquare = b->plies[1].epSquare;
  }
  extractPv(*b, 10);
  EXPECT_EQ(pvText(*b), "g1f3 ");
  hashTable.clear(1);
}

TEST(RootPv, LongGamesKeepTheirNewestKeys) {
  testBoard b;
  b->keyCount = 900;
  for (int i = 0; i < 900; ++i) b->keyHistory[i] = u64(i);
  trimKeyHistory(*b);
  EXPECT_EQ(b->keyCount, 512);
  EXPECT_EQ(b->keyHistory[0], 388u);
  EXPECT_EQ(b->keyHistory[511], 899u);
  b->keyCount = 800;
  trimKeyHistory(*b);
  EXPECT_EQ(b->keyCount, 800);
}

TEST(ThreadPool, ResizeBuildsBossFirstAndClearsHistories) {
  ensureTables();
  threadPool& pool = searchThreads;
  pool.resize(3);
  ASSERT_EQ(pool.size(), 3u);
  EXPECT_TRUE(pool.workers()[0]->isBoss());
  for (u32 i = 0; i < 3; ++i) EXPECT_EQ(pool.workers()[i]->threadIndex, i);
  for (u32 i = 0; i < 3; ++i) EXPECT_EQ(&pool.workers()[i]->control, &pool.control);
  pool.workers()[2]->pairHistory1[1234] = 55;
  pool.resize(2);
  ASSERT_EQ(pool.size(), 2u);
  EXPECT_EQ(pool.workers()[1]->pairHistory1[1234], 0);
  EXPECT_FALSE(pool.searchRunning());
  pool.resize(0);
  EXPECT_EQ(pool.size(), 0u);
}

TEST(ThreadPool, ARootRestrictedBySearchmovesLeavesNothingInTheTable) {
  // Its score ignores the other moves: a search that reached the position
  // from elsewhere would trust it.
  ensureTables();
  hashTable.resize(1, 1);
  threadPool& pool = searchThreads;
  pool.resize(1);
  std::vector<std::string> said;
  setReportSink([&](const std::string& text) { said.push_back(text); });
  struct restore {
    ~restore() {
      installOutputSinks();
      searchThreads.resize(0);
      hashTable.clear(1);
    }
  } atEnd;
  searchControl& ctl = pool.control;
  ctl.multiPv = 1;
  ctl.infinite.store(false);
  ctl.pondering.store(false);
  ctl.softTime.store(1 << 30);
  ctl.hardTime.store(1 << 30);

  struct restrictedCase {
    const char* fen;
    std::vector<chessMove> allowed;
    const char* played;  // restricted, then free
    int depth;
  };
  const restrictedCase cases[] = {
      // Rxd3 wins the queen; the rook's other moves lose.
      {"4k3/8/8/8/8/3q4/8/3RK3 w - - 0 80", {makeChessMove(3, 0)}, "d1a1", 10},
      // The mate in eight shows at depth 12: the restricted root fails high.
      {"8/8/8/4k3/8/8/8/KQR5 w - - 0 1", {makeChessMove(1, 46), makeChessMove(2, 50)}, "b1g6", 12},
  };
  for (const restrictedCase& c : cases) {
    testBoard b(c.fen);
    hashTable.clear(1);
    for (bool restricted : {true, false}) {
      ctl.limits = searchLimits{};
      ctl.limits.depthLimit = c.depth;  // from 10 on the boss stores the root itself
      ctl.startMs.store(nowMs());
      pool.startSearch(*b, nullptr, restricted ? c.allowed : std::vector<chessMove>{});
      pool.waitIdle();
      ASSERT_FALSE(said.empty());
      if (restricted) {
        EXPECT_EQ(said.back().rfind(std::string("bestmove ") + c.played, 0), 0u) << said.back();
        EXPECT_EQ(entryBound(hashTable.probe(b->hashKey)), BOUND_NONE) << c.fen;
      } else {
        EXPECT_NE(entryBound(hashTable.probe(b->hashKey)), BOUND_NONE) << c.fen;  // the whole root is stored
      }
    }
  }
}
