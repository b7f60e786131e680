#include "datagen/selfplay.h"

#include <gtest/gtest.h>

#include "engine/report.h"
#include "movegen/movetext.h"
#include "search/tt.h"
#include "tablebase/tbtestutil.h"
#include "testutil.h"

namespace {

gameEnd endOf(const std::string& fen, int& result) {
  ensureTables();
  gameBoard g;
  EXPECT_TRUE(g.set(fen)) << fen;
  return endByRules(g, result);
}

void playText(gameBoard& g, const std::string& text) {
  chessMove m = 0;
  ASSERT_TRUE(parseMoveText(text, *g.b, m)) << text;
  for (chessMove legal : g.legalMoves())
    if (sameMove(legal, m)) {
      g.play(legal);
      return;
    }
  FAIL() << text << " is not legal";
}

}  // namespace

TEST(Adjudication, WinNeedsTheRunOfPlies) {
  adjudicator a;  // 2500 for 4 plies
  int result = -1;
  EXPECT_EQ(a.scored(2600, 20, result), END_NONE);
  EXPECT_EQ(a.scored(2500, 20, result), END_NONE);
  EXPECT_EQ(a.scored(2499, 21, result), END_NONE);  // the run starts again
  for (int i = 0; i < 3; ++i) EXPECT_EQ(a.scored(MATE_SCORE - 5, 21, result), END_NONE);
  EXPECT_EQ(a.scored(3000, 22, result), END_ADJUDICATED_WIN);
  EXPECT_EQ(result, RESULT_WHITE_WINS);

  adjudicator b;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(b.scored(-2500, 30, result), END_NONE);
  EXPECT_EQ(b.scored(2500, 30, result), END_NONE);  // the other side's run does not count
  for (int i = 0; i < 3; ++i) EXPECT_EQ(b.scored(-2700, 30, result), END_NONE);
  EXPECT_EQ(b.scored(-2700, 31, result), END_ADJUDICATED_WIN);
  EXPECT_EQ(result, RESULT_BLACK_WINS);
}

TEST(Adjudication, DrawNeedsALongQuietRunAfterMove40) {
  adjudicator a;  // |score| <= 10 for 12 plies, after move 40
  int result = -1;
  for (int i = 0; i < 30; ++i) EXPECT_EQ(a.scored(0, 40, result), END_NONE);  // move 40 itself is too early
  for (int i = 0; i < 11; ++i) EXPECT_EQ(a.scored(i % 2 ? 10 : -10, 41 + i / 2, result), END_NONE);
  EXPECT_EQ(a.scored(11, 47, result), END_NONE);  // one ply outside the band starts it again
  for (int i = 0; i < 11; ++i) EXPECT_EQ(a.scored(3, 47, result), END_NONE);
  EXPECT_EQ(a.scored(-2, 48, result), END_ADJUDICATED_DRAW);
  EXPECT_EQ(result, RESULT_DRAW);

  adjudicator off;
  off.rules.drawPlies = 0;
  off.rules.winPlies = 0;
  for (int i = 0; i < 50; ++i) EXPECT_EQ(off.scored(i % 2 ? 0 : 5000, 60, result), END_NONE);
}

TEST(Adjudication, TheRulesEndGames) {
  int result = -1;
  EXPECT_EQ(endOf("rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3", result), END_MATE);
  EXPECT_EQ(result, RESULT_BLACK_WINS);
  EXPECT_EQ(endOf("7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", result), END_STALEMATE);
  EXPECT_EQ(result, RESULT_DRAW);
  EXPECT_EQ(endOf("8/8/4k3/8/8/4K3/4R3/8 w - - 100 80", result), END_FIFTY_MOVES);
  EXPECT_EQ(endOf("8/8/4k3/8/8/4K3/4R3/8 w - - 99 80", result), END_NONE);
  // Mate on the hundredth ply is mate.
  EXPECT_EQ(endOf("4k3/4Q3/4K3/8/8/8/8/8 b - - 100 80", result), END_MATE);
  EXPECT_EQ(result, RESULT_WHITE_WINS);
  EXPECT_EQ(endOf("8/8/4k3/8/8/3BK3/8/8 b - - 0 50", result), END_MATERIAL);
  EXPECT_EQ(endOf("8/8/4k3/3n4/8/3BK3/8/8 b - - 0 50", result), END_MATERIAL);
  EXPECT_EQ(endOf("8/8/4k3/8/8/3BK3/3B4/8 b - - 0 50", result), END_NONE);

  // The start position a third time, with the same side to move.
  gameBoard g;
  ASSERT_TRUE(g.set(START_FEN));
  const char* const shuffle[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
  for (int round = 0; round < 2; ++round)
    for (const char* m : shuffle) {
      EXPECT_EQ(endByRules(g, result), END_NONE) << round << " " << m;
      playText(g, m);
    }
  EXPECT_EQ(endByRules(g, result), END_REPETITION);
  EXPECT_EQ(g.plies, 8);
  EXPECT_EQ(g.fullMove, 5);
}

TEST(Adjudication, TablebaseResults) {
  REQUIRE_SYZYGY();
  auto tb = [](const std::string& fen) {
    gameBoard g;
    EXPECT_TRUE(g.set(fen));
    return tablebaseResult(g);
  };
  EXPECT_EQ(tb("8/8/8/4k3/8/8/8/3QK3 w - - 0 1"), RESULT_WHITE_WINS);
  EXPECT_EQ(tb("8/8/8/4k3/8/8/8/3QK3 b - - 0 1"), RESULT_WHITE_WINS);
  EXPECT_EQ(tb("3qk3/8/8/8/8/8/8/4K3 w - - 0 1"), RESULT_BLACK_WINS);
  EXPECT_EQ(tb("8/8/4k3/4r3/8/8/4R3/4K3 w - - 0 1"), RESULT_DRAW);
  // Castling rights keep a position out of the tables, and so do too many men.
  EXPECT_EQ(tb("4k3/8/8/8/8/8/8/R3K3 w Q - 0 1"), -1);
  EXPECT_EQ(tb(START_FEN), -1);
  useTablebases("", true);
}

// The ply cap counts the random plies: a game capped three plies after them
// keeps three positions, a draw, the last one closing the game.
TEST(Adjudication, PlyCapEndsTheGame) {
  ensureTables();
  setReportSink([](const std::string&) {});
  genSettings s;
  s.softNodes = 100;
  s.hardNodes = 2000;
  s.rules.maxPlies = s.randomPlies + 3;
  gameSearcher searcher;
  playedGame game;
  std::string error;
  ASSERT_TRUE(playGame(s, openingBook{}, 4, searcher, game, error)) << error;
  installOutputSinks();
  EXPECT_EQ(game.end, END_PLY_CAP);
  EXPECT_EQ(game.positions, 3u);
  ASSERT_EQ(game.records.size(), 3u * RECORD_BYTES);
  for (u32 k = 0; k < 3; ++k) {
    dataRecord r;
    ASSERT_TRUE(decodeRecord(&game.records[k * RECORD_BYTES], r));
    EXPECT_EQ(r.result, RESULT_DRAW);
    EXPECT_EQ(r.lastOfGame, k == 2);
  }
}
