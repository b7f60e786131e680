#include <gtest/gtest.h>

#include "engine/report.h"
#include "testutil.h"

TEST(Report, PvTextAlternatesSidesAndEndsWithBlank) {
  testBoard b("4k2r/8/8/8/3p4/8/4P3/4K3 b k - 0 1");
  b->plies[0].bestMove = makeChessMove(60, 62, CASTLE_SHORT);
  b->plies[1].bestMove = makeChessMove(12, 28, DOUBLE_PUSH);
  b->plies[2].bestMove = makeChessMove(27, 28, EN_PASSANT);  // to = the captured pawn
  b->pvLast = 2;
  EXPECT_EQ(pvText(*b), "e8g8 e2e4 d4e3 ");
  b->pvLast = 0;
  EXPECT_EQ(pvText(*b), "e8g8 ");
}

TEST(Report, MateDistanceInMoves) {
  EXPECT_EQ(mateMoves(32000 - 1), 1);
  EXPECT_EQ(mateMoves(32000 - 3), 2);
  EXPECT_EQ(mateMoves(32000 - 4), 2);
  EXPECT_EQ(mateMoves(-(32000 - 2)), -1);
  EXPECT_EQ(mateMoves(-(32000 - 5)), -3);
}

TEST(Report, InfoLinesByteForByte) {
  const searchTotals t = makeTotals(1234567, 526, 3);
  EXPECT_EQ(t.nps, 2347085u);
  EXPECT_EQ(centipawnLine(23, 12, 19, t, "e2e4 e7e5 g1f3 "),
            "info score cp 23 depth 12 seldepth 19 nodes 1234567 nps 2347085 time 526 tbhits 3 pv e2e4 e7e5 g1f3 ");
  EXPECT_EQ(centipawnLine(-150, 10, 14, t, "a2a3 "),
            "info score cp -150 depth 10 seldepth 14 nodes 1234567 nps 2347085 time 526 tbhits 3 pv a2a3 ");
  EXPECT_EQ(mateLine(32000 - 3, 4, t, "d1d8 "),
            "info score mate 2 depth 4 nodes 1234567 nps 2347085 time 526 tbhits 3 pv d1d8 ");
  EXPECT_EQ(mateLine(-(32000 - 2), 7, t, "g8h8 "),
            "info score mate -1 depth 7 nodes 1234567 nps 2347085 time 526 tbhits 3 pv g8h8 ");
}

TEST(Report, ZeroTimeCountsAsOneMillisecond) {
  const searchTotals t = makeTotals(5000, 0, 0);
  EXPECT_EQ(t.time, 1u);
  EXPECT_EQ(t.nps, 5000000u);
}

TEST(Report, BestMoveLine) {
  EXPECT_EQ(bestMoveLine(makeChessMove(48, 56, PROMOTE_QUEEN), 0, WHITE), "bestmove a7a8q");
  EXPECT_EQ(bestMoveLine(makeChessMove(48, 56, PROMOTE_KNIGHT), makeChessMove(60, 59), WHITE),
            "bestmove a7a8n ponder e8d8");
  // White en passant from e5 takes the d5 pawn and lands on d6.
  EXPECT_EQ(bestMoveLine(makeChessMove(36, 35, EN_PASSANT), makeChessMove(52, 44), WHITE),
            "bestmove e5d6 ponder e7e6");
  EXPECT_EQ(bestMoveLine(0, 0, BLACK), "bestmove a1a1");
  // A move carrying only a piece code in its top byte is still empty.
  EXPECT_EQ(bestMoveLine(makeChessMove(12, 28), u32(WHITE_KING) << 24, WHITE), "bestmove e2e4");
}

TEST(Report, WdlChancesAreCertainForMatesAndTablebasesAndOrderedOtherwise) {
  const auto same = [](wdlChances c, int w, int d, int l) { return c.win == w && c.draw == d && c.loss == l; };
  EXPECT_TRUE(same(wdlFromScore(MATE_SCORE - 3, 40), 1000, 0, 0));
  EXPECT_TRUE(same(wdlFromScore(3 - MATE_SCORE, 40), 0, 0, 1000));
  EXPECT_TRUE(same(wdlFromScore(MATE_BAND - 20, 5), 1000, 0, 0));  // a tablebase win
  EXPECT_TRUE(same(wdlFromScore(20 - MATE_BAND, 5), 0, 0, 1000));
  int lastWin = -1;
  for (int score = -1500; score <= 1500; score += 50) {
    const wdlChances c = wdlFromScore(score, 40);
    EXPECT_EQ(c.win + c.draw + c.loss, 1000) << score;
    EXPECT_TRUE(c.win >= 0 && c.draw >= 0 && c.loss >= 0) << score;
    EXPECT_GE(c.win, lastWin) << score;
    lastWin = c.win;
    const wdlChances mirror = wdlFromScore(-score, 40);
    EXPECT_EQ(c.win, mirror.loss) << score;
  }
  EXPECT_GT(wdlFromScore(0, 60).draw, wdlFromScore(400, 60).draw);
  EXPECT_GT(wdlFromScore(400, 60).win, wdlFromScore(0, 60).win);
}

TEST(Report, DrawnByMaterialOnlyWhereNoMateIsPossible) {
  // Bare kings, one minor piece, bishops all on squares of one colour.
  for (const char* fen : {"8/8/4k3/8/8/3K4/8/8 w - - 0 1", "8/8/4k3/8/8/3KN3/8/8 b - - 0 1",
                          "8/8/4kb2/8/8/3K4/8/8 w - - 0 1", "8/8/4kb2/8/8/3KB3/8/8 w - - 0 1",
                          "8/8/4k3/8/8/2BKB3/8/8 w - - 0 1"})
    EXPECT_TRUE(drawnByMaterial(*testBoard(fen))) << fen;
  // A mate stays possible, with help if need be.
  for (const char* fen : {"8/8/4k1b1/8/8/3KB3/8/8 w - - 0 1", "8/8/4k3/8/8/3KNN2/8/8 w - - 0 1",
                          "8/8/4kn2/8/8/3KB3/8/8 w - - 0 1", "8/8/4kn2/8/8/3KN3/8/8 w - - 0 1",
                          "8/8/4k3/8/8/3KP3/8/8 w - - 0 1", "8/8/4k3/8/8/3K4/8/7R w - - 0 1",
                          "8/8/4k3/8/8/2BKBN2/8/8 w - - 0 1"})
    EXPECT_FALSE(drawnByMaterial(*testBoard(fen))) << fen;
}
