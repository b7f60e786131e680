#include <gtest/gtest.h>

#include <string>

#include "eval/eval.h"
#include "testutil.h"

namespace {
// Colour-mirrored twin: board flipped, colours swapped, other side to move.
std::string mirrorFen(const std::string& fen) {
  std::string placement = fen.substr(0, fen.find(' '));
  std::string side = fen.substr(fen.find(' ') + 1, 1);
  std::string ranks[8];
  int r = 0;
  for (char c : placement) {
    if (c == '/') ++r;
    else ranks[r] += char(std::isalpha(static_cast<unsigned char>(c)) ? (std::isupper(static_cast<unsigned char>(c)) ? std::tolower(c) : std::toupper(c)) : c);
  }
  std::string out;
  for (int i = 7; i >= 0; --i) out += ranks[i] + (i ? "/" : "");
  return out + (side == "w" ? " b" : " w") + " - - 0 1";
}
}  // namespace

TEST(CombEval, PairsPackAndUnpack) {
  EXPECT_EQ(mgOf(X(-10, 128)), -10);
  EXPECT_EQ(egOf(X(-10, 128)), 128);
  combEval v = addEval(addEval(X(-10, 128), X(-300, -7)), X(5, 5));
  EXPECT_EQ(mgOf(v), -305);
  EXPECT_EQ(egOf(v), 126);
  v = subEval(v, X(-1000, 2000));
  EXPECT_EQ(mgOf(v), 695);
  EXPECT_EQ(egOf(v), -1874);
  EXPECT_EQ(X(82, 97), 97 * 65536 + 82);
}

TEST(Evaluate, StartPositionIsTheTempo) {
  testBoard tb;
  EXPECT_EQ(evaluate(*tb), 25);
  testBoard b("rnbqkb1r/pppppppp/5n2/8/8/5N2/PPPPPPPP/RNBQKB1R w KQkq - 2 2");
  EXPECT_EQ(evaluate(*b), 25);
  testBoard black("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0 1");
  EXPECT_EQ(evaluate(*black), 25);
}

TEST(Evaluate, PawnEndingUsesTheEndgameHalfOnly) {
  testBoard tb("4k3/8/8/8/8/8/4P3/4K3 w - - 0 1");
  EXPECT_EQ(tb->phase, 0);
  // White: pawn e2 (eg 15) + material 97; the kings on e1 and e8 read the same entry and cancel; tempo 17.
  int eg = 97 + 15 + 17;
  EXPECT_EQ(evaluate(*tb), eg);
}

TEST(Evaluate, MirroredTwinsScoreTheSame) {
  const char* fens[] = {"r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3",
                        "4k3/1p6/8/3n4/8/2B5/PPP5/4K3 b - - 0 1",
                        "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
                        "8/8/4k3/8/2Q5/8/8/4K3 w - - 0 1"};
  for (const char* f : fens) {
    testBoard a(f), m(mirrorFen(f));
    EXPECT_EQ(evaluate(*a), evaluate(*m)) << f;
  }
}

TEST(Evaluate, HugePhaseIsClamped) {
  testBoard tb("qqqqkqqq/8/8/8/8/8/8/QQQQKQQQ w - - 0 1");
  EXPECT_GT(tb->phase, 6198);
  // With the phase clamped at the top only the middlegame half counts.
  combEval v = subEval(addEval(tb->material[0], tb->pstSum[0]), addEval(tb->material[1], tb->pstSum[1]));
  v = addEval(v, TEMPO);
  EXPECT_EQ(evaluate(*tb), mgOf(v));
}

TEST(Evaluate, SumsMatchTheTables) {
  testBoard tb("4k3/8/8/8/8/8/8/R3K3 w - - 0 1");
  EXPECT_EQ(tb->material[WHITE], materialValue[3]);
  EXPECT_EQ(tb->material[BLACK], 0);
  EXPECT_EQ(tb->phase, 462);
  // A white rook on a1 reads table index 56; a black king on e8 reads its own
  // square, 60, which is White's e1 entry.
  EXPECT_EQ(tb->pstSum[WHITE], addEval(pieceSquareScore[3][56], pieceSquareScore[5][60]));
  EXPECT_EQ(tb->pstSum[BLACK], pieceSquareScore[5][60]);
  testBoard e2("4k3/8/8/8/8/8/4p3/K7 w - - 0 1");  // black pawn on e2 reads White's e7 entry
  EXPECT_EQ(e2->pstSum[BLACK], addEval(pieceSquareScore[0][12], pieceSquareScore[5][60]));
  EXPECT_EQ(mgOf(pieceSquareScore[0][8]), 55);   // pawn a7
  EXPECT_EQ(egOf(pieceSquareScore[5][63]), -52);  // king h1
  EXPECT_EQ(mgOf(pieceSquareScore[1][21]), 81);   // knight f6
}
