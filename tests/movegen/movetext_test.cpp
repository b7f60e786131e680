#include <gtest/gtest.h>

#include "movegen/movetext.h"
#include "testutil.h"

namespace {
int sq(const char* n) { return 8 * (n[1] - '1') + (n[0] - 'a'); }
}  // namespace

TEST(MoveText, PrintsLandingSquaresAndPromotionLetters) {
  // En passant is stored by the captured pawn's square, printed by landing.
  EXPECT_EQ(moveText(makeChessMove(sq("e5"), sq("d5"), EN_PASSANT), WHITE), "e5d6");
  EXPECT_EQ(moveText(makeChessMove(sq("e4"), sq("d4"), EN_PASSANT), BLACK), "e4d3");
  EXPECT_EQ(moveText(makeChessMove(sq("e7"), sq("e8"), PROMOTE_QUEEN), WHITE), "e7e8q");
  EXPECT_EQ(moveText(makeChessMove(sq("b2"), sq("a1"), PROMOTE_KNIGHT, 99), BLACK), "b2a1n");
  EXPECT_EQ(moveText(makeChessMove(60, 58, CASTLE_LONG), BLACK), "e8c8");
  EXPECT_EQ(moveText(makeChessMove(4, 6, CASTLE_SHORT), WHITE), "e1g1");
  // Chess960 writes castling as the king taking its own rook, also where the
  // king or the rook does not move.
  testBoard standard(START_FEN, true), dfrc("rk4r1/8/8/8/8/8/8/1R4KR w Hga - 0 1", true);
  EXPECT_EQ(moveText(makeChessMove(4, 6, CASTLE_SHORT), WHITE, &standard->castling), "e1h1");
  EXPECT_EQ(moveText(makeChessMove(60, 58, CASTLE_LONG), BLACK, &standard->castling), "e8a8");
  EXPECT_EQ(moveText(makeChessMove(6, 6, CASTLE_SHORT), WHITE, &dfrc->castling), "g1h1");
  EXPECT_EQ(moveText(makeChessMove(57, 58, CASTLE_LONG), BLACK, &dfrc->castling), "b8a8");
  EXPECT_EQ(moveText(makeChessMove(57, 62, CASTLE_SHORT), BLACK, &dfrc->castling), "b8g8");
}

TEST(MoveText, ReadsKindsFromTextAndBoard) {
  struct row {
    const char* fen;
    const char* text;
    int from, to, kind;
  } rows[] = {
      {START_FEN, "e2e4", sq("e2"), sq("e4"), DOUBLE_PUSH},
      {START_FEN, "e2e3", sq("e2"), sq("e3"), MOVE_NORMAL},
      {START_FEN, "g1f3", sq("g1"), sq("f3"), MOVE_NORMAL},
      {"rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6 0 3", "e5f6", sq("e5"), sq("f5"), EN_PASSANT},
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "e1g1", 4, 6, CASTLE_SHORT},
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "e1c1", 4, 2, CASTLE_LONG},
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", "e1f1", 4, 5, MOVE_NORMAL},
      {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", "e8c8", 60, 58, CASTLE_LONG},
      {"3r4/4P3/8/8/8/8/8/k3K3 w - - 0 1", "e7e8q", sq("e7"), sq("e8"), PROMOTE_QUEEN},
      {"3r4/4P3/8/8/8/8/8/k3K3 w - - 0 1", "e7d8n", sq("e7"), sq("d8"), PROMOTE_KNIGHT},
      // A two-square step that is not one from the start rank sets no
      // en-passant square.
      {"4k3/8/8/8/4P3/8/8/4K3 w - - 0 1", "e4e6", sq("e4"), sq("e6"), MOVE_NORMAL},
  };
  for (const row& r : rows) {
    testBoard tb(r.fen);
    chessMove m = 0;
    ASSERT_TRUE(parseMoveText(r.text, *tb, m)) << r.text;
    EXPECT_EQ(m, makeChessMove(r.from, r.to, r.kind)) << r.text;
  }
}

TEST(MoveText, RefusesTextThatNamesNoMoveOnTheBoard) {
  struct row {
    const char* fen;
    const char* text;
  } rows[] = {
      {START_FEN, ""},          {START_FEN, "e2e"},       {START_FEN, "e2e4q5"},
      {START_FEN, "i2i4"},      {START_FEN, "e0e4"},      {START_FEN, "e2e9"},
      {START_FEN, "E2E4"},      {START_FEN, "e3e4"},      // no piece on e3
      {START_FEN, "e7e5"},      // Black's pawn, White to move
      {START_FEN, "a1a2"},      // own piece on the target
      {START_FEN, "g1f3q"},     // only pawns promote
      {"3r4/4P3/8/8/8/8/8/k3K3 w - - 0 1", "e7e8k"},
      {"3r4/4P3/8/8/8/8/8/k3K3 w - - 0 1", "e7e8p"},
      {"3r4/4P3/8/8/8/8/8/k3K3 w - - 0 1", "e7e8x"},
      {"4k3/3P4/8/8/8/8/8/4K3 w - - 0 1", "d7e8q"},        // a king cannot be taken
      {"r3k2r/8/8/8/8/8/8/R3KN1R w KQkq - 0 1", "e1g1"},   // castling over a piece
      {"r3k2r/8/8/8/8/8/8/4K2R w K - 0 1", "e1c1"},        // no rook on a1
      {"4k3/8/8/8/8/8/1P6/4K3 w - - 0 1", "b2a1"},         // "en passant" off the board
      {"4k3/8/8/8/8/8/2P5/1N2K3 w - - 0 1", "c2b2"},       // "en passant" onto an own piece
  };
  for (const row& r : rows) {
    testBoard tb(r.fen);
    chessMove m = 12345;
    EXPECT_FALSE(parseMoveText(r.text, *tb, m)) << r.fen << " " << r.text;
    EXPECT_EQ(m, 12345u) << r.text;
  }
}
