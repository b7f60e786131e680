#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "uci/commands.h"
#include "uci/go.h"
#include "uci/options.h"
#include "movegen/perft.h"
#include "testutil.h"

namespace {

int sq(const char* n) { return 8 * (n[1] - '1') + (n[0] - 'a'); }

void position(const std::string& rest) {
  ensureTables();
  std::istringstream words(rest);
  positionCommand(words);
}

// The command changes process-wide state; each test starts from and
// returns to the start position.
class PositionCommand : public testing::Test {
 protected:
  void SetUp() override { position("startpos"); }
  void TearDown() override { position("startpos"); }
};

}  // namespace

TEST_F(PositionCommand, StartposWithMoves) {
  position("startpos moves e2e4 e7e5 g1f3");
  const board& b = currentBoard;
  EXPECT_EQ(b.pieceOn[sq("f3")], WHITE_KNIGHT);
  EXPECT_EQ(b.pieceOn[sq("g1")], 0);
  EXPECT_EQ(b.sideToMove, BLACK);
  EXPECT_EQ(b.keyCount, 4);
  EXPECT_EQ(b.halfMoves, 1);
  EXPECT_EQ(game.plyCount, 3);
  EXPECT_EQ(b.plies[0].epSquare, 0);
  EXPECT_EQ(b.hashKey, computeHashKey(b));
  EXPECT_EQ(b.keyHistory[b.keyCount - 1], b.hashKey);

  // The word after startpos is skipped whatever it is.
  position("startpos e2e4");
  EXPECT_EQ(currentBoard.pieceOn[sq("e2")], WHITE_PAWN);
  EXPECT_EQ(game.plyCount, 0);
}

TEST_F(PositionCommand, EnPassantCastlingAndCheckFlag) {
  position("startpos moves e2e4 d7d5 e4e5 f7f5 e5f6");
  EXPECT_EQ(currentBoard.pieceOn[sq("f5")], 0);
  EXPECT_EQ(currentBoard.pieceOn[sq("f6")], WHITE_PAWN);

  position("fen r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1 moves e1g1");
  EXPECT_EQ(currentBoard.pieceOn[sq("f1")], WHITE_ROOK);
  EXPECT_EQ(currentBoard.plies[0].castleRights, CASTLE_BK | CASTLE_BQ);

  // The check flag of the root follows the last move.
  position("startpos moves e2e4 e7e5 d1h5 b8c6 h5f7");
  EXPECT_EQ(currentBoard.plies[0].inCheck, 1);
}

TEST_F(PositionCommand, Chess960CastlingIsTheKingTakingItsRook) {
  auto perftHere = [](u32 depth) {
    auto copy = std::make_unique<board>(currentBoard);
    return perft(0, depth, *copy);
  };
  const std::string opening = " moves e2e4 e7e5 g1f3 g8f6 f1c4 f8c5 ";
  game.chess960 = true;
  // Counts from another engine after the castlings; both castle in each.
  position("startpos" + opening + "e1h1 e8h8");
  EXPECT_EQ(currentBoard.pieceOn[sq("g8")], BLACK_KING);
  EXPECT_EQ(perftHere(3), 25883u);
  position("fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w HAha - 0 1" + opening + "e1h1 e8h8");
  EXPECT_EQ(perftHere(3), 25883u);
  position("fen 2rk4/8/8/8/8/8/8/4K2R b Kc - 0 1 moves d8c8 e1h1");  // king and rook trade squares
  EXPECT_EQ(perftHere(3), 3324u);
  position("fen 1r4kr/8/8/8/8/8/8/1R4KR w HBhb - 0 1 moves g1b1 g8h8");  // the king stays on g8
  EXPECT_EQ(perftHere(3), 9392u);
  // Each mode refuses the other's castling text.
  position("startpos" + opening + "e1g1");
  EXPECT_EQ(currentBoard.pieceOn[sq("e1")], WHITE_KING);
  game.chess960 = false;
  position("startpos" + opening + "e1h1");
  EXPECT_EQ(currentBoard.pieceOn[sq("e1")], WHITE_KING);
  position("startpos" + opening + "e1g1 e8g8");
  EXPECT_EQ(currentBoard.pieceOn[sq("g8")], BLACK_KING);
}

TEST_F(PositionCommand, FenGamePlyCount) {
  position(std::string("fen ") + START_FEN + " moves e2e4");
  EXPECT_EQ(currentBoard.keyCount, 2);
  EXPECT_EQ(game.plyCount, 3);
  position(std::string("fen ") + START_FEN);
  EXPECT_EQ(game.plyCount, 1024);
}

TEST_F(PositionCommand, BadInputLeavesASoundBoard) {
  position("startpos moves e2e4");
  board before;
  std::memcpy(&before, &currentBoard, sizeof(board));
  // Unknown form, missing FEN fields, refused FEN: nothing changes.
  for (const char* line : {"", "fen", "fen 8/8/8", "nonsense e2e4",
                           "fen QQQQQQQQ/QQQQQQQQ/Q7/8/8/8/8/k6K w - - 0 1 moves a8b7"}) {
    position(line);
    EXPECT_EQ(std::memcmp(&before, &currentBoard, sizeof(board)), 0) << line;
  }
  // A move text that names no move ends the list: later moves are not played.
  position("startpos moves e2e4 e7e5 xx g1f3");
  EXPECT_EQ(currentBoard.pieceOn[sq("g1")], WHITE_KNIGHT);
  EXPECT_EQ(game.plyCount, 2);
  position("startpos moves e2e4 e2e3 g1f3");
  EXPECT_EQ(currentBoard.pieceOn[sq("e4")], WHITE_PAWN);
  EXPECT_EQ(currentBoard.sideToMove, BLACK);
  EXPECT_EQ(game.plyCount, 1);
}

TEST_F(PositionCommand, AMoveThatIsNotLegalEndsTheListAndIsReported) {
  auto played = [](const std::string& line) {
    testing::internal::CaptureStdout();
    position(line);
    return testing::internal::GetCapturedStdout();
  };
  // A knight cannot reach f4; a pseudo-legal move that ignores a check.
  EXPECT_EQ(played("startpos moves g1f4 e7e5"), "info string illegal move g1f4 at index 1 ignored, and the moves after it\n");
  EXPECT_EQ(currentBoard.pieceOn[sq("g1")], WHITE_KNIGHT);
  EXPECT_EQ(currentBoard.pieceOn[sq("f4")], 0);
  EXPECT_EQ(currentBoard.sideToMove, WHITE);
  EXPECT_EQ(played("startpos moves e2e4 d7d5 f1b5 a7a6 b5a4"),
            "info string illegal move a7a6 at index 4 ignored, and the moves after it\n");
  EXPECT_EQ(currentBoard.pieceOn[sq("a7")], BLACK_PAWN);
  EXPECT_EQ(currentBoard.plies[0].inCheck, 1);
  EXPECT_EQ(game.plyCount, 3);
  EXPECT_EQ(played("startpos moves e2e4 d7d5 f1b5 c7c6"), "");
}

TEST_F(PositionCommand, ThousandsOfMovesKeepTheKeyHistoryInBounds) {
  std::string line = "startpos moves";
  for (int i = 0; i < 2000; ++i) line += " g1f3 g8f6 f3g1 f6g8";
  position(line);
  const board& b = currentBoard;
  EXPECT_EQ(game.plyCount, 8000);
  EXPECT_LE(b.keyCount, KEY_HISTORY_SIZE - 130);
  EXPECT_GE(b.keyCount, 512);
  // The newest keys survive the slides: the start position repeats every
  // four plies right up to the current one.
  EXPECT_EQ(b.keyHistory[b.keyCount - 1], b.hashKey);
  for (int back = 4; back <= 500; back += 4) EXPECT_EQ(b.keyHistory[b.keyCount - 1 - back], b.hashKey) << back;
  testBoard start;
  EXPECT_EQ(b.hashKey, start->hashKey);
  EXPECT_EQ(b.halfMoves, 8000);
}

TEST(PositionEndToEnd, ShowboardAndPerftAfterMoves) {
  std::string out = runEngineWith("position startpos moves e2e4 e7e5 g1f3\nshowboard\nperft 3\nquit\n");
  const std::string border = "+---+---+---+---+---+---+---+---+\n";
  const std::string empty = "|   |   |   |   |   |   |   |   |\n";
  const std::string diagram = border + "| r | n | b | q | k | b | n | r |\n" + border +
                              "| p | p | p | p |   | p | p | p |\n" + border + empty + border +
                              "|   |   |   |   | p |   |   |   |\n" + border + "|   |   |   |   | P |   |   |   |\n" +
                              border + "|   |   |   |   |   | N |   |   |\n" + border +
                              "| P | P | P | P |   | P | P | P |\n" + border + "| R | N | B | Q | K | B |   | R |\n" +
                              border;
  // showboard, then perft's own copy of the diagram, then its two lines.
  size_t first = out.find(diagram);
  ASSERT_NE(first, std::string::npos) << out;
  EXPECT_NE(out.find(diagram, first + diagram.size()), std::string::npos);
  EXPECT_NE(out.find("Perft results for depth: 3  23193  Nodes per sec: "), std::string::npos) << out;
}
