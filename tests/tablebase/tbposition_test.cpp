// The probe position's generators and move maker, checked against the
// engine's own legal move generator, and its validity tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "movegen/movegen.h"
#include "tbtestutil.h"

namespace {

using moveId = std::tuple<int, int, int>;  // origin, landing square, promotion (tb code)

int tbPromoOfKind(int kind) {
  switch (kind) {
    case PROMOTE_QUEEN: return 1;
    case PROMOTE_ROOK: return 2;
    case PROMOTE_BISHOP: return 3;
    case PROMOTE_KNIGHT: return 4;
    default: return 0;
  }
}

enum class moveSet { all, captures, pawnQuiets, epCaptures };

// The engine's legal moves of the given class, in the probe's terms.
std::vector<moveId> engineMoves(board& b, moveSet which) {
  generateLegal(0, b.plies[0].listStart, b);
  std::vector<moveId> out;
  for (chessMove* m = b.plies[0].listStart; m < b.plies[0].listEnd; ++m) {
    const int from = moveFrom(*m), to = moveTo(*m), kind = moveKindOf(*m);
    const bool ep = kind == EN_PASSANT, capture = b.pieceOn[to] != 0;
    const bool pawn = typeOf(b.pieceOn[from]) == PAWN, promo = isPromotion(kind);
    const int landing = ep ? (b.sideToMove == WHITE ? to + 8 : to - 8) : to;
    bool keep = which == moveSet::all || (which == moveSet::captures && (capture || promo)) ||
                (which == moveSet::pawnQuiets && pawn && !capture) || (which == moveSet::epCaptures && ep);
    if (keep) out.emplace_back(from, landing, tbPromoOfKind(kind));
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<moveId> probeMoves(const tbPosition& pos, moveSet which) {
  tbMove list[TB_MAX_MOVES];
  tbMove* end = which == moveSet::all        ? tbGenMoves(pos, list)
                : which == moveSet::captures ? tbGenCaptures(pos, list)
                : which == moveSet::pawnQuiets ? tbGenPawnQuiets(pos, list)
                                               : tbGenEpCaptures(pos, list);
  std::vector<moveId> out;
  tbPosition child;
  for (tbMove* m = list; m < end; ++m)
    if (tbDoMove(child, pos, *m)) out.emplace_back(tbMoveFrom(*m), tbMoveTo(*m), tbMovePromo(*m));
  std::sort(out.begin(), out.end());
  return out;
}

void expectSameMoves(const std::string& fen) {
  testBoard b(fen);
  tbPosition pos;
  ASSERT_TRUE(tbPositionFromBoard(*b, 0, 0, pos)) << fen;
  for (moveSet which : {moveSet::all, moveSet::captures, moveSet::pawnQuiets, moveSet::epCaptures})
    EXPECT_EQ(probeMoves(pos, which), engineMoves(*b, which)) << fen << " set " << int(which);
}

TEST(TbPosition, GeneratorsAgreeWithEngineLegalMoves) {
  ensureTables();
  const char* fens[] = {
      "4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1",          // en passant
      "8/8/8/r2pP2K/8/8/8/4k3 w - d6 0 1",          // en passant exposes the king along the rank
      "4k3/8/8/8/3Pp3/8/8/4K3 b - d3 0 1",          // Black captures en passant
      "8/8/8/3pP3/4K3/8/8/7k w - d6 0 1",           // the double step gives check
      "3r1n2/4P3/8/8/8/8/8/K6k w - - 0 1",          // push and capture promotions
      "k7/8/8/8/8/8/1p6/R1N4K b - - 0 1",           // Black promotions
      "4k3/8/8/8/8/4n3/4P3/4K3 w - - 0 1",          // blocked pawn
      "4k3/8/8/8/4n3/8/4P3/4K3 w - - 0 1",          // double step blocked
      "4k3/4r3/8/8/8/8/4B3/4K3 w - - 0 1",          // pinned bishop
      "8/8/8/8/8/7k/6q1/6RK w - - 0 1",              // in check, capture the checker
  };
  for (const char* fen : fens) expectSameMoves(fen);

  std::mt19937 rng(5);
  const char* materials[] = {"KQRvKBN", "KPPPvKPP", "KRPvKNP", "KQvKPPP", "KBPPvKRP", "KNNvKQ"};
  int tested = 0;
  for (int n = 0; n < 600; ++n) {
    char grid[64] = {};
    placeRandom(grid, materials[n % 6], (n / 6) & 1, rng);
    const std::string fen = fenFromGrid(grid, (n / 12) & 1);
    testBoard b(fen);
    tbPosition pos;
    if (!tbPositionFromBoard(*b, 0, 0, pos)) continue;
    expectSameMoves(fen);
    ++tested;
  }
  EXPECT_GT(tested, 200);
}

TEST(TbPosition, MoveMakerEnPassantAndClock) {
  ensureTables();
  // A double step sets ep only when an enemy pawn can take it.
  tbPosition pos = tbFromFen("4k3/8/8/8/8/8/4P3/4K3 w - - 0 1", 7), child;
  ASSERT_TRUE(tbDoMove(child, pos, makeTbMove(12, 28)));
  EXPECT_EQ(child.ep, 0);
  EXPECT_EQ(child.rule50, 0);
  pos = tbFromFen("4k3/8/8/8/3p4/8/4P3/4K3 w - - 0 1");
  ASSERT_TRUE(tbDoMove(child, pos, makeTbMove(12, 28)));
  EXPECT_EQ(child.ep, 20);

  // The en-passant capture removes the captured pawn from every set.
  pos = tbFromFen("4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1");
  ASSERT_EQ(pos.ep, 43);
  ASSERT_TRUE(tbDoMove(child, pos, makeTbMove(36, 43)));
  EXPECT_EQ(child.pawns, bit(43));
  EXPECT_EQ(child.white, bit(43) | bit(4));
  EXPECT_EQ(child.black, bit(60));

  // The clock counts quiet piece moves and restarts on a capture.
  pos = tbFromFen("4k3/8/8/8/8/8/r7/R3K3 w - - 0 1", 12);
  ASSERT_TRUE(tbDoMove(child, pos, makeTbMove(0, 1)));
  EXPECT_EQ(child.rule50, 13);
  EXPECT_FALSE(child.turn);
  ASSERT_TRUE(tbDoMove(child, pos, makeTbMove(4, 3)));
  EXPECT_EQ(child.rule50, 13);
  ASSERT_TRUE(tbDoMove(child, pos, makeTbMove(0, 8)));
  EXPECT_EQ(child.rule50, 0);
  EXPECT_EQ(child.black, bit(60));
  EXPECT_EQ(child.rooks, bit(8));

  // A move that leaves the own king attacked gives no legal child.
  pos = tbFromFen("4k3/8/8/8/8/8/8/R3K1r1 w - - 0 1");
  EXPECT_FALSE(tbDoMove(child, pos, makeTbMove(0, 8)));
  EXPECT_TRUE(tbDoMove(child, pos, makeTbMove(4, 11)));
}

TEST(TbPosition, ValidityAndBoardConversion) {
  ensureTables();
  tbPosition ok = tbFromFen("4k3/8/8/8/8/8/4P3/4K3 w - - 0 1");
  EXPECT_TRUE(tbIsValid(ok));

  tbPosition bad = ok;
  bad.pawns |= bit(7);  // pawn on the first rank
  bad.white |= bit(7);
  EXPECT_FALSE(tbIsValid(bad));
  bad = ok;
  bad.kings |= bit(0);  // two white kings
  bad.white |= bit(0);
  EXPECT_FALSE(tbIsValid(bad));
  bad = ok;
  bad.rooks |= bit(12);  // a square in two type sets
  EXPECT_FALSE(tbIsValid(bad));
  bad = ok;
  bad.queens |= bit(40);  // a piece without colour
  EXPECT_FALSE(tbIsValid(bad));

  testBoard b("4k3/8/8/8/8/8/8/4K2R b - - 0 1");  // Black to move, White not in check
  tbPosition p;
  EXPECT_TRUE(tbPositionFromBoard(*b, 0, 0, p));
  testBoard c("4k2R/8/8/8/8/8/8/4K3 w - - 0 1");  // the side not to move is in check
  EXPECT_FALSE(tbPositionFromBoard(*c, 0, 0, p));

  // The board's en-passant pawn becomes the square behind it; a stale or
  // impossible value is dropped instead of producing a bad square.
  testBoard e("4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1");
  ASSERT_EQ(e->plies[0].epSquare, 35);
  ASSERT_TRUE(tbPositionFromBoard(*e, 0, 0, p));
  EXPECT_EQ(p.ep, 43);
  for (int junk : {60, 63, 36, 3}) {
    e->plies[0].epSquare = u8(junk);
    ASSERT_TRUE(tbPositionFromBoard(*e, 0, 0, p));
    EXPECT_EQ(p.ep, 0) << junk;
  }
  EXPECT_FALSE(tbPositionFromBoard(*e, PLY_RECORDS, 0, p));
}

}  // namespace
