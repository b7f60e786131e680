#include <gtest/gtest.h>

#include <string>

#include "movegen/movegen.h"
#include "movegen/movetext.h"
#include "testutil.h"

namespace {

int sq(const char* n) { return 8 * (n[1] - '1') + (n[0] - 'a'); }

// "e2e4/13/0" per move: text, kind, score byte.
std::string listText(const board& b, const chessMove* begin, const chessMove* end) {
  std::string out;
  for (const chessMove* m = begin; m != end; ++m) {
    if (!out.empty()) out += ' ';
    out += moveText(*m, b.sideToMove) + "/" + std::to_string(moveKindOf(*m)) + "/" + std::to_string(moveScore(*m));
  }
  return out;
}

// Captures then quiets, as the full pseudo-legal list is built.
std::string pseudoLegal(board& b, bool quietsToo = true) {
  chessMove* start = b.plies[0].listStart;
  b.plies[0].inCheck = kingAttacked(b, b.sideToMove);
  generateCaptures(0, start, b);
  if (quietsToo) generateQuiets(0, b.plies[0].listEnd, b);
  return listText(b, start, b.plies[0].listEnd);
}

// Quiet moves carry no score; their byte is checked as 0 only to pin the text.
std::string quietList(board& b) {
  chessMove* start = b.plies[0].listStart;
  b.plies[0].inCheck = kingAttacked(b, b.sideToMove);
  generateCaptures(0, start, b);
  chessMove* quiet = b.plies[0].listEnd;
  generateQuiets(0, quiet, b);
  return listText(b, quiet, b.plies[0].listEnd);
}

std::string legalList(board& b) {
  generateLegal(0, b.plies[0].listStart, b);
  return listText(b, b.plies[0].listStart, b.plies[0].listEnd);
}

bool hasMove(const std::string& list, const std::string& text) {
  return (" " + list + " ").find(" " + text + "/") != std::string::npos;
}

}  // namespace

TEST(MoveGen, StartPositionOrder) {
  testBoard tb;
  EXPECT_EQ(pseudoLegal(*tb),
            "a2a3/0/0 b2b3/0/0 c2c3/0/0 d2d3/0/0 e2e3/0/0 f2f3/0/0 g2g3/0/0 h2h3/0/0 "
            "a2a4/13/0 b2b4/13/0 c2c4/13/0 d2d4/13/0 e2e4/13/0 f2f4/13/0 g2g4/13/0 h2h4/13/0 "
            "b1a3/0/0 b1c3/0/0 g1f3/0/0 g1h3/0/0");
  generateLegal(0, tb->plies[0].listStart, *tb);
  EXPECT_EQ(tb->plies[0].listEnd - tb->plies[0].listStart, 20);
  EXPECT_EQ(tb->plies[1].listStart, tb->plies[0].listEnd);
}

TEST(MoveGen, CaptureOrderAndScores) {
  // Pawn captures by 9 then by 7 (promotions first in each pass), knights,
  // bishops, rooks, queens, en passant, king.
  testBoard tb("r3k2r/1P6/8/3pP3/8/2n5/1P1Q4/R3K2R w KQkq d6 0 1");
  board& b = *tb;
  generateCaptures(0, b.plies[0].listStart, b);
  EXPECT_EQ(listText(b, b.plies[0].listStart, b.plies[0].listEnd),
            "b2c3/0/38 b7a8q/10/58 b7a8r/8/58 b7a8b/6/58 b7a8n/4/58 a1a8/0/64 h1h8/0/64 d2c3/0/30 d2d5/0/14 "
            "e5d6/12/14");
  // Promotions first, single steps, double steps, castling (long refused:
  // d1 is attacked by the knight), then pieces.
  std::string quiets = quietList(b);
  EXPECT_EQ(quiets.substr(0, quiets.find(" a1b1")),
            "b7b8q/10/0 b7b8r/8/0 b7b8b/6/0 b7b8n/4/0 b2b3/0/0 e5e6/0/0 b2b4/13/0 e1g1/14/0");

  // Black's pawns capture towards a by 9 first, then towards h by 7.
  testBoard black("4k3/8/8/8/8/8/1p5p/R1R3Q1 b - - 0 1");
  generateCaptures(0, black->plies[0].listStart, *black);
  EXPECT_EQ(listText(*black, black->plies[0].listStart, black->plies[0].listEnd),
            "b2a1q/10/50 b2a1r/8/50 b2a1b/6/50 b2a1n/4/50 h2g1q/10/66 h2g1r/8/66 h2g1b/6/66 h2g1n/4/66 "
            "b2c1q/10/50 b2c1r/8/50 b2c1b/6/50 b2c1n/4/50");
}

TEST(MoveGen, EvasionOrderAndScores) {
  // Rook check on the e-file: king steps, pawn capture, then pieces by kind
  // with capture / interposition scores.
  testBoard rook("4k3/8/8/Q3r3/2NP3R/8/8/4K1B1 w - - 0 1");
  EXPECT_EQ(legalList(*rook),
            "e1d1/0/202 e1f1/0/202 e1d2/0/202 e1f2/0/202 d4e5/0/250 c4e3/0/206 c4e5/0/236 g1e3/0/205 h4e4/0/204 "
            "a5e5/0/233");
  EXPECT_EQ(rook->plies[0].inCheck, 1);
  EXPECT_EQ(rook->plies[0].stage, STAGE_EVASIONS);

  // Bishop check: single step before the double step onto the line.
  testBoard bishop("4k3/8/8/b7/8/8/1PP5/4K3 w - - 0 1");
  EXPECT_EQ(legalList(*bishop), "e1d1/0/202 e1f1/0/202 e1e2/0/202 e1f2/0/202 c2c3/0/210 b2b4/13/210");

  // King captures: the lone checker scores one above another victim.
  testBoard kingTakes("4k3/8/8/8/8/8/8/3rK3 w - - 0 1");
  EXPECT_EQ(legalList(*kingTakes), "e1d1/0/230 e1e2/0/202 e1f2/0/202");
  testBoard kingTakesOther("4k3/8/8/8/8/8/4n3/r3K3 w - - 0 1");
  EXPECT_EQ(legalList(*kingTakesOther), "e1d2/0/202 e1e2/0/225 e1f2/0/202");

  // Double check: only king moves, and none away along the checking rank.
  testBoard twice("4k3/8/8/8/3Q4/3n4/8/r3K3 w - - 0 1");
  EXPECT_EQ(legalList(*twice), "e1d2/0/202 e1e2/0/202");
  EXPECT_EQ(countLegal(0, twice->plies[0].listStart, *twice), 2u);
}

TEST(MoveGen, EnPassantEvasionsAndPins) {
  // The checking pawn that just advanced two squares can be taken en passant.
  testBoard checkingPawn("4k3/8/8/3pP3/4K3/8/8/8 w - d6 0 1");
  std::string list = legalList(*checkingPawn);
  EXPECT_TRUE(hasMove(list, "e5d6")) << list;
  EXPECT_TRUE(hasMove(list, "e4d5")) << list;
  // A pawn that did not give check offers no en-passant evasion.
  testBoard otherCheck("4k3/8/8/3pP3/8/8/8/r3K3 w - d6 0 1");
  EXPECT_FALSE(hasMove(legalList(*otherCheck), "e5d6"));
  // Both pawns between king and rook on the rank: generated, then refused.
  testBoard rankPin("8/8/8/KPp4r/8/8/8/4k3 w - c6 0 1");
  EXPECT_TRUE(hasMove(pseudoLegal(*rankPin, false), "b5c6"));
  EXPECT_FALSE(hasMove(legalList(*rankPin), "b5c6"));
  // A pinned piece keeps only the moves along its line.
  testBoard pinnedRook("4k3/4r3/8/8/8/8/4R3/4K3 w - - 0 1");
  EXPECT_EQ(legalList(*pinnedRook).find("e2d2"), std::string::npos);
  EXPECT_TRUE(hasMove(legalList(*pinnedRook), "e2e7"));
}

TEST(MoveGen, CastlingConditions) {
  struct caseRow {
    const char* fen;
    bool shortGenerated, shortLegal, longGenerated, longLegal;
  } rows[] = {
      {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", true, true, true, true},
      {"r3kr2/8/8/8/8/8/8/R3K2R w KQq - 0 1", false, false, true, true},    // f1 attacked
      {"r3k1r1/8/8/8/8/8/8/R3K2R w KQq - 0 1", true, false, true, true},    // g1 attacked
      {"1r2k2r/8/8/8/8/8/8/R3K2R w KQk - 0 1", true, true, true, true},     // b1 attacked: allowed
      {"r2rk3/8/8/8/8/8/8/R3K2R w KQq - 0 1", true, true, false, false},    // d1 attacked
      {"r1r1k3/8/8/8/8/8/8/R3K2R w KQq - 0 1", true, true, true, false},    // c1 attacked
      {"r3k2r/8/8/8/8/8/8/RN2K1NR w KQkq - 0 1", false, false, false, false},  // squares occupied
      {"r3k2r/8/8/8/8/8/8/R3K2R w - - 0 1", false, false, false, false},    // no rights
      {"4k3/8/8/8/8/8/4r3/R3K2R w KQ - 0 1", false, false, false, false},   // in check
  };
  for (const caseRow& r : rows) {
    testBoard tb(r.fen);
    std::string quiets = quietList(*tb), legal = legalList(*tb);
    EXPECT_EQ(hasMove(quiets, "e1g1"), r.shortGenerated) << r.fen;
    EXPECT_EQ(hasMove(legal, "e1g1"), r.shortLegal) << r.fen;
    EXPECT_EQ(hasMove(quiets, "e1c1"), r.longGenerated) << r.fen;
    EXPECT_EQ(hasMove(legal, "e1c1"), r.longLegal) << r.fen;
  }
  // Black's castling squares mirror White's.
  testBoard black("r3k2r/8/8/8/8/8/8/4K3 b kq - 0 1");
  EXPECT_TRUE(hasMove(legalList(*black), "e8g8"));
  EXPECT_TRUE(hasMove(legalList(*black), "e8c8"));
}

TEST(MoveGen, PromotionsAcrossGenerators) {
  testBoard tb("3r4/4P3/8/8/8/8/8/k3K3 w - - 0 1");
  board& b = *tb;
  const int victimScore = (BLACK_ROOK * 8 - 14) & 0xFF;
  const std::string full = "e7d8q/10/58 e7d8r/8/58 e7d8b/6/58 e7d8n/4/58";
  ASSERT_EQ(victimScore, 58);
  generateCaptures(0, b.plies[0].listStart, b);
  EXPECT_EQ(listText(b, b.plies[0].listStart, b.plies[0].listEnd).substr(0, full.size()), full);
  EXPECT_EQ(quietList(b).rfind("e7e8q/10/0 e7e8r/8/0 e7e8b/6/0 e7e8n/4/0 ", 0), 0u);

  generateQuiesceCaptures(0, b.plies[0].listStart, b);
  EXPECT_EQ(listText(b, b.plies[0].listStart, b.plies[0].listEnd), "e7d8q/10/58 e7e8q/10/1");

  // Recaptures at ply 1 answer the move into d8.
  b.plies[0].currentMove = makeChessMove(sq("d1"), sq("d8"));
  b.plies[1] = b.plies[0];
  generateRecaptures(1, b.plies[1].listStart, b);
  EXPECT_EQ(listText(b, b.plies[1].listStart, b.plies[1].listEnd), "e7d8q/10/58");
  EXPECT_EQ(b.plies[2].listStart, b.plies[1].listEnd);
}

TEST(MoveGen, RecaptureOrder) {
  testBoard tb("6k1/1B6/4K3/3p4/1NP5/8/8/3R3Q w - - 0 1");
  board& b = *tb;
  b.plies[0].currentMove = makeChessMove(sq("d7"), sq("d5"));
  b.plies[1] = b.plies[0];
  generateRecaptures(1, b.plies[1].listStart, b);
  EXPECT_EQ(listText(b, b.plies[1].listStart, b.plies[1].listEnd),
            "c4d5/0/22 b4d5/0/20 b7d5/0/18 d1d5/0/16 h1d5/0/14 e6d5/0/12");
  // The quiescence list orders the same captures by piece kind, king last.
  generateQuiesceCaptures(0, b.plies[0].listStart, b);
  std::string q = listText(b, b.plies[0].listStart, b.plies[0].listEnd);
  EXPECT_LT(q.find("c4d5"), q.find("b4d5"));
  EXPECT_LT(q.find("h1d5"), q.find("e6d5"));
}
