// The engine-facing entry points: the root move with its score, and the WDL
// answer for the search.

#include <gtest/gtest.h>


#include "textmatch.h"
#include "movegen/makemove.h"
#include "movegen/movetext.h"
#include "search/search.h"
#include "search/tbroot.h"
#include "tbtestutil.h"

namespace {

struct rootAnswer {
  chessMove move;
  int score;
};

rootAnswer probeRoot(board& b) {
  int score = 12345;
  const chessMove m = tbProbeRoot(b, score);
  return {m, score};
}

// The position after the root move, as the probes see it.
tbPosition afterMove(board& b, chessMove m) {
  b.plies[0].currentMove = m;
  makeMove(b, 0, m);
  tbPosition child{};
  EXPECT_TRUE(tbPositionFromBoard(b, 1, u8(b.halfMoves), child));
  unmakeMove(b, 0, m);
  return child;
}

TEST(TbRoot, WinningRootTakesTheShortestWin) {
  REQUIRE_SYZYGY();
  const char* fen = "8/8/8/8/8/2k5/8/KQ6 w - - 0 1";
  testBoard b(fen);
  const int dtz = dtzOf(tbFromFen(fen));
  ASSERT_GT(dtz, 1);
  const rootAnswer r = probeRoot(*b);
  ASSERT_NE(r.move, 0u);
  EXPECT_EQ(moveScore(r.move), b->pieceOn[moveFrom(r.move)]);
  EXPECT_EQ(r.score, MATE_BAND - dtz);
  // KQvK has no zeroing moves for the winner: the distance must drop by one.
  EXPECT_EQ(dtzOf(afterMove(*b, r.move)), -(dtz - 1));

  // The same win too late for the fifty-move rule is no win.
  testBoard late(fen);
  late->halfMoves = i16(101 - dtz);
  const rootAnswer cursed = probeRoot(*late);
  EXPECT_NE(cursed.move, 0u);
  EXPECT_EQ(cursed.score, 0);

  // The losing side: scored as a loss unless the clock saves it.
  const char* lost = "8/8/8/8/8/2k5/8/KQ6 b - - 0 1";
  const int ldtz = dtzOf(tbFromFen(lost));
  ASSERT_LT(ldtz, 0);
  testBoard l(lost);
  const rootAnswer r2 = probeRoot(*l);
  EXPECT_EQ(r2.score, -ldtz - MATE_BAND);
  EXPECT_GT(wdlOf(afterMove(*l, r2.move)), 0);
  l->halfMoves = i16(101 + ldtz);
  const rootAnswer saved = probeRoot(*l);
  EXPECT_EQ(saved.move, r2.move);
  EXPECT_EQ(saved.score, 0);
}

TEST(TbRoot, DrawnRootIsStableAndKeepsTheDraw) {
  REQUIRE_SYZYGY();
  for (const char* fen : {"8/8/2k5/8/8/5r2/8/1K2R3 w - - 0 1", "8/8/2k5/8/8/5r2/8/1K2R3 b - - 0 1",
                          "8/8/8/8/4k3/8/4p3/4K3 w - - 0 1"}) {
    testBoard b(fen);
    const rootAnswer first = probeRoot(*b);
    ASSERT_NE(first.move, 0u) << fen;
    EXPECT_EQ(first.score, 0) << fen;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(probeRoot(*b).move, first.move) << fen;
    EXPECT_EQ(wdlOf(afterMove(*b, first.move)), 0) << fen;
  }
}

TEST(TbRoot, EnPassantRootMove) {
  REQUIRE_SYZYGY();
  // Only the capture en passant wins: without it the position is drawn.
  const char* fen = "8/8/8/3pP2k/8/8/8/K7 w - d6 0 1";
  tbPosition noEp = tbFromFen(fen);
  noEp.ep = 0;
  ASSERT_EQ(wdlOf(noEp), 0);
  ASSERT_EQ(wdlOf(tbFromFen(fen)), 2);
  testBoard b(fen);
  const rootAnswer r = probeRoot(*b);
  EXPECT_EQ(moveKindOf(r.move), EN_PASSANT);
  EXPECT_EQ(moveTo(r.move), 35);  // the captured pawn's square
  EXPECT_EQ(r.score, MATE_BAND - 1);
  EXPECT_EQ(moveText(r.move, WHITE), "e5d6");
}

TEST(TbRoot, DoubleStepRootMove) {
  REQUIRE_SYZYGY();
  // Only the double step wins; it must come back as a move the engine can play.
  testBoard b("8/8/8/8/8/8/P1k5/K7 w - - 0 1");
  const rootAnswer r = probeRoot(*b);
  EXPECT_EQ(moveFrom(r.move), 8);
  EXPECT_EQ(moveTo(r.move), 24);
  EXPECT_EQ(moveKindOf(r.move), DOUBLE_PUSH);
  EXPECT_EQ(r.score, MATE_BAND - 1);
}

TEST(TbRoot, SearchProbe) {
  REQUIRE_SYZYGY();
  testBoard win("8/8/8/8/8/2k5/8/KQ6 w - - 99 80");
  EXPECT_EQ(tbProbeSearch(0, *win), 4);  // the clock is ignored inside the search
  testBoard loss("8/8/8/8/8/2k5/8/KQ6 b - - 0 1");
  EXPECT_EQ(tbProbeSearch(0, *loss), 0);
  testBoard bare("8/8/8/8/8/2k5/8/K7 w - - 0 1");
  EXPECT_EQ(tbProbeSearch(0, *bare), 2);
  testBoard start;
  EXPECT_EQ(tbProbeSearch(0, *start), -1);
  testBoard missing("7k/8/8/8/8/8/4q3/KQQ5 w - - 0 1");  // no KQQvKQ table here
  EXPECT_EQ(tbProbeSearch(0, *missing), -1);
  EXPECT_EQ(probeRoot(*missing).move, 0u);
  useTablebases("<empty>");
  EXPECT_EQ(tbProbeSearch(0, *win), -1);
  EXPECT_EQ(probeRoot(*win).move, 0u);
}

TEST(TbRoot, EngineAnswersTablebaseRootAtOnce) {
  if (!syzygyDirPresent()) GTEST_SKIP() << "no tablebase files in " DRAVLIN_SYZYGY_DIR;
  const std::string out = runEngineWith(
      "setoption name SyzygyPath value " DRAVLIN_SYZYGY_DIR
      "\nposition fen 8/8/8/8/8/2k5/8/KQ6 w - - 0 1\ngo wtime 10000 btime 10000\n");
  EXPECT_TRUE(rx::search(out, rx::pattern("\nFound [0-9]+ tablebases\\.\n")));
  EXPECT_NE(out.find("info string Syzygy tablebases used from directory : " DRAVLIN_SYZYGY_DIR "\n"),
            std::string::npos);
  rx::groups m;
  ASSERT_TRUE(rx::search(
      out, m, rx::pattern("info score cp (318[0-9][0-9]) depth 127 seldepth 127 nodes 1 tbhits 1 time 1 pv (\\w+)\n"
                          "bestmove (\\w+)\n")))
      << out;
  EXPECT_EQ(m[2], m[3]);

  // Several search threads probing inside the tree.
  const std::string searched = runEngineWith(
      "setoption name SyzygyPath value " DRAVLIN_SYZYGY_DIR
      "\nsetoption name Threads value 3\nposition fen 8/8/3k4/8/2r5/8/1R1QK3/7R b - - 0 1\ngo depth 9\n");
  EXPECT_TRUE(rx::search(searched, rx::pattern("\nbestmove \\w+")));
}

}  // namespace

TEST(TbRoot, AllowedMovesOnlyWinsBeforeDrawsBeforeLosses) {
  REQUIRE_SYZYGY();
  // Qb3+ hands the queen to the king (a draw); Qh7 keeps the win.
  testBoard b("8/8/8/8/8/2k5/8/KQ6 w - - 0 1");
  chessMove hang, keep;
  ASSERT_TRUE(parseMoveText("b1b3", *b, hang));
  ASSERT_TRUE(parseMoveText("b1h7", *b, keep));
  int score = 12345;
  const chessMove both[] = {hang, keep};
  EXPECT_TRUE(sameMove(tbProbeRoot(*b, score, both, 2), keep));
  EXPECT_GT(score, 0);
  EXPECT_TRUE(sameMove(tbProbeRoot(*b, score, &hang, 1), hang));
  EXPECT_EQ(score, 0);
}
