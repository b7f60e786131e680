#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "movegen/makemove.h"
#include "movegen/movegen.h"
#include "search/ordering.h"
#include "searchsetup.h"

namespace {

constexpr int sq(const char* s) { return (s[1] - '1') * 8 + (s[0] - 'a'); }
chessMove mv(const char* from, const char* to, int kind = MOVE_NORMAL) { return makeChessMove(sq(from), sq(to), kind); }
// A remembered move: the mover's code in the top byte.
chessMove remembered(chessMove m, int code) { return (m & MOVE_MASK) | (u32(code) << 24); }

bool see(const char* fen, chessMove m, int threshold = 0) {
  testBoard b(fen);
  return threshold == 0 ? seeNonNegative(*b, m) : seeAtLeast(*b, m, threshold);
}

}  // namespace

TEST(Exchange, BatteriesXraysAndTheKing) {
  // Rook battery on the e-file wins the pawn; a lone rook loses itself.
  EXPECT_TRUE(see("4r1k1/8/8/4p3/8/8/4R3/4R1K1 w - - 0 1", mv("e2", "e5")));
  EXPECT_FALSE(see("4r1k1/8/8/4p3/8/8/4R3/6K1 w - - 0 1", mv("e2", "e5")));
  // The defender's rook behind its rook joins once the front one has taken.
  EXPECT_FALSE(see("4r1k1/4r3/8/4p3/8/5N2/8/4R1K1 w - - 0 1", mv("f3", "e5")));
  EXPECT_TRUE(see("6k1/4r3/8/4p3/8/5N2/8/4R1K1 w - - 0 1", mv("f3", "e5")));
  // A king may take back only when nothing can take it in turn.
  EXPECT_TRUE(see("r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq - 4 4", mv("h5", "f7")));
  EXPECT_FALSE(see("r1bqkb1r/pppp1ppp/2n2n2/4p2Q/4P3/8/PPPP1PPP/RNB1K1NR w KQkq - 4 4", mv("h5", "f7")));
  // Equal trades and winning captures pass at once; a knight for a pawn does not.
  EXPECT_TRUE(see("4k3/8/3p4/4n3/8/2B5/8/4K3 w - - 0 1", mv("c3", "e5")));
  EXPECT_FALSE(see("4k3/8/3p4/4p3/8/5N2/8/4K3 w - - 0 1", mv("f3", "e5")));
}

TEST(Exchange, Thresholds) {
  const char* free = "4k3/8/8/3n4/8/1B6/8/4K3 w - - 0 1";
  EXPECT_TRUE(see(free, mv("b3", "d5"), 325));
  EXPECT_FALSE(see(free, mv("b3", "d5"), 326));
  EXPECT_TRUE(see(free, mv("b3", "d5"), -500));
  // En passant and castling pass exactly when the threshold is not positive.
  const char* ep = "4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 1";
  EXPECT_FALSE(see(ep, mv("e5", "d5", EN_PASSANT), 1));
  EXPECT_TRUE(see(ep, mv("e5", "d5", EN_PASSANT), -110));
  EXPECT_TRUE(see(ep, mv("e5", "d5", EN_PASSANT), 0));
  // A rook taking a defended queen gains at least 400 even if it is lost.
  EXPECT_TRUE(see("3qk3/2p5/8/8/8/8/8/3RK3 w - - 0 1", mv("d1", "d8"), 400));
  EXPECT_FALSE(see("3qk3/2p5/8/8/8/8/8/3RK3 w - - 0 1", mv("d1", "d8"), 600));
}

TEST(PseudoLegal, RememberedMovesAreCheckedAgainstTheBoard) {
  testBoard start;
  const board& s = *start;
  EXPECT_TRUE(isPseudoLegal(remembered(mv("e2", "e4", DOUBLE_PUSH), WHITE_PAWN), s, 0));
  EXPECT_TRUE(isPseudoLegal(remembered(mv("e2", "e3"), WHITE_PAWN), s, 0));
  EXPECT_TRUE(isPseudoLegal(remembered(mv("g1", "f3"), WHITE_KNIGHT), s, 0));
  EXPECT_FALSE(isPseudoLegal(remembered(mv("g1", "f3"), WHITE_BISHOP), s, 0)) << "mover code differs";
  EXPECT_FALSE(isPseudoLegal(remembered(mv("g1", "e2"), WHITE_KNIGHT), s, 0)) << "own piece on target";
  EXPECT_FALSE(isPseudoLegal(remembered(mv("e7", "e5", DOUBLE_PUSH), BLACK_PAWN), s, 0)) << "wrong colour";
  EXPECT_FALSE(isPseudoLegal(remembered(mv("e2", "e4"), WHITE_PAWN), s, 0)) << "two steps need the kind";
  EXPECT_FALSE(isPseudoLegal(remembered(mv("f1", "c4"), WHITE_BISHOP), s, 0)) << "blocked slider";
  EXPECT_FALSE(isPseudoLegal(0, s, 0));
  EXPECT_FALSE(isPseudoLegal(remembered(makeChessMove(200, 20), WHITE_PAWN), s, 0)) << "no such square";
  EXPECT_FALSE(isPseudoLegal(remembered(makeChessMove(sq("g1"), sq("f3"), 3), WHITE_KNIGHT), s, 0)) << "no such kind";

  testBoard pawns("4k3/P7/8/3n4/4P3/3n4/4p3/4K3 w - - 0 1");
  EXPECT_TRUE(isPseudoLegal(remembered(mv("e4", "e5"), WHITE_PAWN), *pawns, 0));
  EXPECT_TRUE(isPseudoLegal(remembered(mv("e4", "d5"), WHITE_PAWN), *pawns, 0));
  EXPECT_FALSE(isPseudoLegal(remembered(mv("e4", "d3"), WHITE_PAWN), *pawns, 0)) << "pawns do not take backwards";
  EXPECT_FALSE(isPseudoLegal(remembered(mv("a7", "a8"), WHITE_PAWN), *pawns, 0)) << "must promote";
  EXPECT_TRUE(isPseudoLegal(remembered(mv("a7", "a8", PROMOTE_QUEEN), WHITE_PAWN), *pawns, 0));
  EXPECT_FALSE(isPseudoLegal(remembered(mv("e4", "e5", PROMOTE_QUEEN), WHITE_PAWN), *pawns, 0));
  EXPECT_TRUE(isPseudoLegal(remembered(mv("e1", "e2"), WHITE_KING), *pawns, 0));
  testBoard blocked("4k3/8/8/8/8/4p3/4P3/4K3 w - - 0 1");
  EXPECT_FALSE(isPseudoLegal(remembered(mv("e2", "e3"), WHITE_PAWN), *blocked, 0));
  testBoard ep("4k3/8/8/2pPp3/8/8/8/4K3 w - c6 0 1");
  EXPECT_TRUE(isPseudoLegal(remembered(mv("d5", "c5", EN_PASSANT), WHITE_PAWN), *ep, 0));
  EXPECT_FALSE(isPseudoLegal(remembered(mv("d5", "e5", EN_PASSANT), WHITE_PAWN), *ep, 0)) << "not the pawn that ran";

  const chessMove shortCastle = remembered(makeChessMove(4, 6, CASTLE_SHORT), WHITE_KING);
  const chessMove longCastle = remembered(makeChessMove(4, 2, CASTLE_LONG), WHITE_KING);
  testBoard noRights("r3k2r/8/8/8/8/8/8/R3K2R w kq - 0 1");
  EXPECT_FALSE(isPseudoLegal(shortCastle, *noRights, 0));
  testBoard rights("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1");
  EXPECT_TRUE(isPseudoLegal(shortCastle, *rights, 0));
  EXPECT_TRUE(isPseudoLegal(longCastle, *rights, 0));
  testBoard crossing("r3kr2/8/8/8/8/8/8/R3K2R w KQq - 0 1");
  EXPECT_FALSE(isPseudoLegal(shortCastle, *crossing, 0)) << "f1 is attacked";
  EXPECT_TRUE(isPseudoLegal(longCastle, *crossing, 0));
  testBoard checked("r3k2r/8/8/8/8/8/4r3/R3K2R w KQkq - 0 1");
  EXPECT_FALSE(isPseudoLegal(longCastle, *checked, 0));

  // Chess960: a remembered castling is plausible exactly when the generator
  // writes it (which there already tests the king's landing square).
  for (const char* fen : {"1r4kr/8/8/8/8/8/8/1R4KR w HBhb - 0 1", "5kr1/8/8/8/8/8/8/5KR1 w Gg - 0 1",
                          "4k3/8/8/8/8/8/8/qR1K4 w B - 0 1", "4k3/8/8/8/8/8/8/NR1K4 w B - 0 1",
                          "1r2k1r1/8/8/8/8/8/7b/1R2K1R1 w GBgb - 0 1", "2rk4/8/8/8/8/8/8/2RK3R w HCc - 0 1"}) {
    testBoard tb(fen, true);
    generateLegal(0, tb->plies[0].listStart, *tb);
    for (int kind : {CASTLE_SHORT, CASTLE_LONG}) {
      const chessMove m = makeChessMove(tb->castling.kingFrom[WHITE], kind == CASTLE_SHORT ? 6 : 2, kind);
      const bool generated = std::count_if(tb->plies[0].listStart, tb->plies[0].listEnd,
                                           [m](chessMove g) { return sameMove(g, m); }) == 1;
      EXPECT_EQ(isPseudoLegal(remembered(m, WHITE_KING), *tb, 0), generated) << fen << " kind " << kind;
    }
  }
}

namespace {

// White to move at ply 1, after Black's ...d7-d5 (made up as ply 0's move).
// Captures: exd5 (even), Nxd5 (safe: exd5 follows Qxd5), Nxe5 (loses the knight).
struct Picker : ::testing::Test {
  searchSetup s{"r1bqkbnr/ppp2ppp/2n5/3pp3/4P3/2N2N2/PPPP1PPP/R1BQKB1R w KQkq - 0 4"};
  const chessMove hash = remembered(mv("d2", "d4", DOUBLE_PUSH), WHITE_PAWN);
  const chessMove killer1 = remembered(mv("f1", "c4"), WHITE_BISHOP);
  const chessMove killer2 = remembered(mv("a2", "a3"), WHITE_PAWN);
  const chessMove counter = remembered(mv("f1", "b5"), WHITE_BISHOP);

  void SetUp() override {
    board& b = *s;
    b.plies[1] = b.plies[0];
    b.plies[0].currentMove = remembered(mv("d7", "d5", DOUBLE_PUSH), BLACK_PAWN);
    b.plies[1].hashMove = hash;
    b.plies[1].killer1 = killer1;
    b.plies[1].killer2 = killer2;
    b.counterMove[BLACK_PAWN - 2][sq("d5")] = counter;
  }

  struct handed {
    chessMove move;
    int stage;
  };
  std::vector<handed> walk() {
    std::vector<handed> out;
    preparePicker(*s, 1, true);
    while (chessMove m = nextMove(1, *s)) out.push_back({m & MOVE_MASK, s->plies[1].stage});
    return out;
  }
  // Every pseudo-legal move of the position, from the generators.
  std::multiset<chessMove> everyMove() {
    board copy = *s;
    chessMove* list = copy.plies[1].listStart;
    generateCaptures(1, list, copy);
    generateQuiets(1, copy.plies[1].listEnd, copy);
    std::multiset<chessMove> all;
    for (chessMove* p = list; p < copy.plies[1].listEnd; ++p) all.insert(*p & MOVE_MASK);
    return all;
  }
};

}  // namespace

TEST_F(Picker, StagesComeInOrderAndNoMoveTwice) {
  const auto moves = walk();
  ASSERT_GE(moves.size(), 8u);
  const int order[] = {STAGE_HASH, STAGE_CAPTURES, STAGE_KILLER1, STAGE_KILLER2, STAGE_COUNTER, STAGE_BAD_CAPTURES,
                       STAGE_QUIETS};
  auto rank = [&](int stage) { return int(std::find(std::begin(order), std::end(order), stage) - order); };
  for (size_t i = 1; i < moves.size(); ++i) EXPECT_LE(rank(moves[i - 1].stage), rank(moves[i].stage)) << i;

  EXPECT_EQ(moves[0].move, hash & MOVE_MASK);
  EXPECT_EQ(moves[1].move, mv("e4", "d5"));
  EXPECT_EQ(moves[1].stage, STAGE_CAPTURES);
  EXPECT_EQ(moves[2].move, mv("c3", "d5")) << "Qxd5 would lose the queen to exd5";
  EXPECT_EQ(moves[3].move, killer1 & MOVE_MASK);
  EXPECT_EQ(moves[4].move, killer2 & MOVE_MASK);
  EXPECT_EQ(moves[5].move, counter & MOVE_MASK);
  EXPECT_EQ(moves[5].stage, STAGE_COUNTER);
  // Nxe5 loses the knight to Nxe5 and comes after the counter move.
  EXPECT_EQ(moves[6].move, mv("f3", "e5"));
  EXPECT_EQ(moves[6].stage, STAGE_BAD_CAPTURES);

  std::multiset<chessMove> handedOut;
  for (auto& h : moves) handedOut.insert(h.move);
  EXPECT_EQ(handedOut, everyMove());
}

TEST_F(Picker, RememberedMovesAreNotRepeated) {
  board& b = *s;
  b.plies[1].killer2 = hash;                                          // same as the hash move
  b.plies[1].killer1 = remembered(mv("f3", "e5"), WHITE_KNIGHT);      // a capture here
  b.counterMove[BLACK_PAWN - 2][sq("d5")] = b.plies[1].killer1;       // same as a killer
  const auto moves = walk();
  std::multiset<chessMove> handedOut;
  for (auto& h : moves) {
    handedOut.insert(h.move);
    // A killer that captures here is offered as a killer too, and so comes twice.
    if (h.stage == STAGE_KILLER1 || h.stage == STAGE_KILLER2 || h.stage == STAGE_COUNTER) {
      EXPECT_TRUE(h.stage == STAGE_KILLER1 && h.move == mv("f3", "e5"));
    }
  }
  std::multiset<chessMove> expected = everyMove();
  expected.insert(mv("f3", "e5"));
  EXPECT_EQ(handedOut, expected);
}

TEST_F(Picker, EvasionsOnlyInCheck) {
  searchSetup c("4k3/8/8/8/1b6/8/8/RN2K2R w KQ - 0 1");  // Bb4+
  preparePicker(*c, 0, false);
  std::multiset<chessMove> got;
  while (chessMove m = nextMove(0, *c)) {
    EXPECT_EQ(c->plies[0].stage, STAGE_EVASIONS);
    got.insert(m & MOVE_MASK);
  }
  board copy = *c;
  generateLegal(0, copy.plies[0].listStart, copy);
  std::multiset<chessMove> legal;
  for (chessMove* p = copy.plies[0].listStart; p < copy.plies[0].listEnd; ++p) legal.insert(*p & MOVE_MASK);
  EXPECT_EQ(got, legal);
}

TEST_F(Picker, CutOffRewardsTheMoveAndPunishesThoseTriedBefore) {
  board& b = *s;
  preparePicker(b, 1, true);
  chessMove m = 0;
  std::vector<chessMove> quietsBefore;
  while ((m = nextMove(1, b)) && b.plies[1].stage != STAGE_QUIETS) {
  }
  ASSERT_NE(m, 0u);
  quietsBefore.push_back(m);
  m = nextMove(1, b);
  ASSERT_EQ(b.plies[1].stage, STAGE_QUIETS);
  const int code = b.pieceOn[moveFrom(m)];
  const chessMove cut = remembered(m, code);
  i16* row1 = b.pairHistory1 + ((BLACK_PAWN - 2) * 64 + sq("d5")) * 768;

  updateOrdering(1, 4, cut, b);  // bonus 32 * 16 = 512
  EXPECT_EQ(b.history[code - 2][moveTo(m)], 512);
  EXPECT_EQ(row1[(code - 2) * 64 + moveTo(m)], 512);
  EXPECT_EQ(b.counterMove[BLACK_PAWN - 2][sq("d5")], cut);
  for (chessMove p : {hash, killer1, killer2, counter, quietsBefore[0]}) {
    const int pc = b.pieceOn[moveFrom(p)];
    EXPECT_EQ(b.history[pc - 2][moveTo(p)], -512) << moveFrom(p) << "-" << moveTo(p);
    EXPECT_EQ(row1[(pc - 2) * 64 + moveTo(p)], -512);
  }
  EXPECT_EQ(b.plies[1].killer1, cut);
  EXPECT_EQ(b.plies[1].killer2, killer1);

  // The second reward is damped by what is there: 512 + 512 - 512 * 512 / 8192.
  updateOrdering(1, 4, cut, b);
  EXPECT_EQ(b.history[code - 2][moveTo(m)], 992);
  EXPECT_EQ(b.history[WHITE_PAWN - 2][sq("a3")], -992);  // -512 - 512 + 512 * 512 / 8192
  EXPECT_EQ(b.plies[1].killer2, killer1) << "the same killer is not pushed twice";

  // Too deep for the histories, not for the killers; captures change nothing.
  updateOrdering(1, 19, killer2, b);
  EXPECT_EQ(b.history[WHITE_PAWN - 2][sq("a3")], -992) << "two penalties, none at depth 19";
  EXPECT_EQ(b.plies[1].killer1, killer2);
  const chessMove capture = remembered(mv("e4", "d5"), WHITE_PAWN);
  updateOrdering(1, 4, capture, b);
  EXPECT_EQ(b.history[WHITE_PAWN - 2][sq("d5")], 0);
  EXPECT_EQ(b.plies[1].killer1, killer2);
}
