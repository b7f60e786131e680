#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "eval/eval.h"
#include "testutil.h"

namespace {
int sq(const char* n) { return 8 * (n[1] - '1') + (n[0] - 'a'); }

// Every redundant field agrees with the placement.
void expectConsistent(const board& b) {
  u64 colour[2] = {0, 0};
  for (int s = 0; s < 64; ++s) {
    int c = b.pieceOn[s];
    ASSERT_TRUE(c == 0 || (c >= 2 && c <= 13)) << s;
    for (int code = 2; code < 14; ++code) ASSERT_EQ(bool(b.pieceBB[code] & bit(s)), c == code) << s;
    if (c) colour[c & 1] |= bit(s);
  }
  EXPECT_EQ(b.pieceBB[0], colour[0]);
  EXPECT_EQ(b.pieceBB[1], colour[1]);
  EXPECT_EQ(b.hashKey, computeHashKey(b));
  EXPECT_EQ(b.keyHistory[b.keyCount - 1], b.hashKey);
}
}  // namespace

TEST(Fen, StartPosition) {
  testBoard tb;
  board& b = *tb;
  EXPECT_EQ(b.pieceBB[0], 0xFFFFULL);
  EXPECT_EQ(b.pieceBB[1], 0xFFFFULL << 48);
  EXPECT_EQ(b.pieceOn[4], WHITE_KING);
  EXPECT_EQ(b.pieceOn[60], BLACK_KING);
  EXPECT_EQ(b.pieceOn[sq("d8")], BLACK_QUEEN);
  EXPECT_EQ(b.plies[0].castleRights, 15);
  EXPECT_EQ(b.plies[0].epSquare, 0);
  EXPECT_EQ(b.keyCount, 1);
  EXPECT_EQ(b.halfMoves, 0);
  EXPECT_EQ(b.sideToMove, WHITE);
  EXPECT_EQ(b.plies[0].inCheck, 0);
  EXPECT_EQ(b.phase, 6682);
  expectConsistent(b);
}

TEST(Fen, MissingFieldsAreCompleted) {
  testBoard tb("4k3/8/8/8/8/8/4P3/4K3 w");
  EXPECT_EQ(tb->plies[0].castleRights, 0);
  EXPECT_EQ(tb->plies[0].epSquare, 0);
  EXPECT_EQ(tb->halfMoves, 0);
  EXPECT_EQ(tb->keyCount, 1);  // full-move 1, White
  expectConsistent(*tb);
  testBoard b2("4k3/8/8/8/8/8/4P3/4K3 b KQ");  // rights without rooks are dropped
  EXPECT_EQ(b2->sideToMove, BLACK);
  EXPECT_EQ(b2->keyCount, 2);
}

TEST(Fen, SideFieldAndKeyCountClamp) {
  EXPECT_EQ(testBoard("4k3/8/8/8/8/8/8/4K3 x - - 0 1")->sideToMove, BLACK);
  EXPECT_EQ(testBoard("4k3/8/8/8/8/8/8/4K3 white - - 0 1")->sideToMove, WHITE);
  testBoard late("4k3/8/8/8/8/8/8/4K3 w - - 0 300");
  EXPECT_EQ(late->keyCount, 513);
  EXPECT_EQ(late->keyHistory[512], late->hashKey);
  EXPECT_EQ(testBoard("4k3/8/8/8/8/8/8/4K3 w - - 0 0")->keyCount, 1);
  EXPECT_EQ(testBoard("4k3/8/8/8/8/8/8/4K3 b - - 7 40")->keyCount, 2 * 39 + 1 + 1);
  EXPECT_EQ(testBoard("4k3/8/8/8/8/8/8/4K3 b - - 7 40")->halfMoves, 7);
}

TEST(Fen, EnPassantIsThePawnThatAdvanced) {
  testBoard b("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1");
  EXPECT_EQ(b->plies[0].epSquare, 28);
  testBoard w("rnbqkbnr/ppp1pppp/8/3pP3/8/8/PPPP1PPP/RNBQKBNR w KQkq d6 0 2");
  EXPECT_EQ(w->plies[0].epSquare, sq("d5"));
  // A target without the pawn behind it, or on the wrong rank, is not taken.
  EXPECT_EQ(testBoard("4k3/8/8/8/8/8/8/4K3 b - e3 0 1")->plies[0].epSquare, 0);
  EXPECT_EQ(testBoard("4k3/8/8/8/4P3/8/8/4K3 w - e3 0 1")->plies[0].epSquare, 0);
  EXPECT_EQ(testBoard("4k3/8/8/8/8/8/8/4K3 w - z9 0 1")->plies[0].epSquare, 0);
  EXPECT_EQ(testBoard("4k3/8/8/8/8/8/8/4K3 w - e 0 1")->plies[0].epSquare, 0);
}

TEST(Fen, CheckFlag) {
  EXPECT_EQ(testBoard("4k3/8/8/8/8/8/8/4K2r w - - 0 1")->plies[0].inCheck, 1);      // rook on the rank
  EXPECT_EQ(testBoard("4k3/8/8/8/8/8/3p4/4K3 w - - 0 1")->plies[0].inCheck, 1);     // pawn
  EXPECT_EQ(testBoard("4k3/8/8/8/8/8/4p3/4K3 w - - 0 1")->plies[0].inCheck, 0);     // pawn in front
  EXPECT_EQ(testBoard("4k3/8/8/8/8/5n2/8/4K3 w - - 0 1")->plies[0].inCheck, 1);     // knight
  EXPECT_EQ(testBoard("4k3/8/8/8/1b6/2P5/8/4K3 w - - 0 1")->plies[0].inCheck, 0);   // blocked bishop
  EXPECT_EQ(testBoard("4k3/8/8/8/1b6/8/8/4K3 w - - 0 1")->plies[0].inCheck, 1);
  EXPECT_EQ(testBoard("4k3/3P4/8/8/8/8/8/4K3 b - - 0 1")->plies[0].inCheck, 1);     // white pawn checks up
}

TEST(Fen, MalformedTextNeverLeavesTheBoard) {
  const char* bad[] = {
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNRRRRR w KQkq - 0 1",  // rank too long
      "9/9/9/9/9/9/9/9/9/9 w - - 0 1",
      "////////////////////////k/K w - - 0 1",                         // below a1
      "xyz!?#@&*( w - - 0 1",
      "k7/8/8/8/8/8/8/7K88888888 b - - 0 1",
      "K7/pppppppp/pppppppp/pppppppp/8/8/8/k7 w - - 0 1",              // too many black men
      "4k3/8/8/8/8/8/8/4K3 w - - 99999999999999 -99999999999999",     // numbers overflow
      "4k3/8/8/8/8/8/8/4K3 w - - abc def",
      "4k3/8/8/8/8/8/8/4K3 w  - -  0 1",                               // doubled blanks
      "4k3/8/8/8/8/8/8/4K3 w KQkq a9 -5 +3",
      "8/8/8/8/8/8/8/8 w - - 0 1",                                     // no kings at all
  };
  for (const char* fen : bad) {
    testBoard tb;
    setFromFen(fen, *tb);
    for (int s = 0; s < 64; ++s) ASSERT_LT(tb->pieceOn[s], 14) << fen;
    EXPECT_GE(tb->keyCount, 1) << fen;
    EXPECT_LE(tb->keyCount, 513) << fen;
    EXPECT_GE(tb->halfMoves, 0) << fen;
    EXPECT_LT(tb->plies[0].epSquare, 64) << fen;
    expectConsistent(*tb);
  }
  // Random bytes as FEN.
  std::mt19937 rng(7);
  const std::string alphabet = "pnbrqkPNBRQK12345678/ wb-KQkqa1e3h8-0123456789x";
  for (int i = 0; i < 2000; ++i) {
    std::string fen;
    int len = int(rng() % 80);
    for (int k = 0; k < len; ++k) fen += alphabet[rng() % alphabet.size()];
    testBoard tb;
    setFromFen(fen, *tb);
    for (int s = 0; s < 64; ++s) ASSERT_LT(tb->pieceOn[s], 14) << fen;
    expectConsistent(*tb);
  }
}

TEST(Fen, TooFewFieldsOrTooManyMenKeepThePosition) {
  testBoard tb("4k3/8/8/8/8/8/8/4K3 w - - 0 1");
  board before = *tb;
  EXPECT_FALSE(setFromFen("", *tb));
  EXPECT_FALSE(setFromFen("   ", *tb));
  EXPECT_FALSE(setFromFen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR", *tb));
  EXPECT_FALSE(setFromFen("QQQQQQQQ/QQQQQQQQ/QQ6/8/8/8/8/K6k w - - 0 1", *tb));
  EXPECT_EQ(std::memcmp(&before, tb.b.get(), sizeof(board)), 0);
}

TEST(Fen, CastlingRightsNeedKingAndRookAtHome) {
  EXPECT_EQ(testBoard("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1")->plies[0].castleRights, 15);
  EXPECT_EQ(testBoard("r3k3/8/8/8/8/8/8/4K2R w KQkq - 0 1")->plies[0].castleRights, 1 | 8);
  EXPECT_EQ(testBoard("r3k2r/8/8/8/8/8/8/R4K1R w KQkq - 0 1")->plies[0].castleRights, 2 | 8);
  // Without Chess960 the rook files of the standard squares mean KQkq, and a
  // Chess960 placement keeps no rights.
  EXPECT_EQ(testBoard("r3k2r/8/8/8/8/8/8/R3K2R w HAha - 0 1")->plies[0].castleRights, 15);
  EXPECT_EQ(testBoard("1r4kr/8/8/8/8/8/8/1R4KR w HBhb - 0 1")->plies[0].castleRights, 0);
}

TEST(Fen, Chess960CastlingField) {
  // Shredder-FEN and X-FEN name the same rooks: K/Q the outermost on that
  // side, a file letter any rook (here the inner b1 rook of two).
  testBoard shredder("1r2k1r1/8/8/8/8/8/8/RR2K1R1 w GBgb - 0 1", true);
  testBoard xfen("1r2k1r1/8/8/8/8/8/8/RR2K1R1 w KBkq - 0 1", true);
  EXPECT_EQ(shredder->plies[0].castleRights, 15);
  EXPECT_EQ(xfen->plies[0].castleRights, 15);
  EXPECT_EQ(std::memcmp(&shredder->castling, &xfen->castling, sizeof(castlingSetup)), 0);
  EXPECT_EQ(shredder->castling.rookFrom[castleIndex(WHITE, false)], 1);
  EXPECT_EQ(shredder->castling.rookFrom[castleIndex(BLACK, true)], 62);
  EXPECT_EQ(testBoard("1r2k1r1/8/8/8/8/8/8/RR2K1R1 w Q - 0 1", true)->castling.rookFrom[castleIndex(WHITE, false)], 0);
  // A letter without its rook on the named file and rank, or whose king is
  // off its first rank, is dropped.
  EXPECT_EQ(testBoard("r3k2r/8/8/8/8/8/8/R3K2R w HBhc - 0 1", true)->plies[0].castleRights, CASTLE_WK | CASTLE_BK);
  EXPECT_EQ(testBoard("r6r/4k3/8/8/8/8/8/R3K2R w HAha - 0 1", true)->plies[0].castleRights, CASTLE_WK | CASTLE_WQ);
  EXPECT_EQ(testBoard("4k3/8/8/8/8/8/8/4K3 w KQkqEe - 0 1", true)->plies[0].castleRights, 0);
}

TEST(Diagram, StartPositionExactText) {
  testBoard tb;
  const std::string border = "+---+---+---+---+---+---+---+---+\n";
  const std::string empty = "|   |   |   |   |   |   |   |   |\n";
  std::string expected = border + "| r | n | b | q | k | b | n | r |\n" + border + "| p | p | p | p | p | p | p | p |\n" +
                         border + empty + border + empty + border + empty + border + empty + border +
                         "| P | P | P | P | P | P | P | P |\n" + border + "| R | N | B | Q | K | B | N | R |\n" +
                         border;
  EXPECT_EQ(boardDiagram(*tb), expected);
}
