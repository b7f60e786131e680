#include <gtest/gtest.h>

#include "eval/eval.h"
#include "movegen/makemove.h"
#include "search/ordering.h"
#include "searchsetup.h"

namespace {

constexpr int sq(const char* s) { return (s[1] - '1') * 8 + (s[0] - 'a'); }

// Makes plies 1..ply describe the root position, as if reached there.
void atPly(board& b, int ply) {
  for (int p = 1; p <= ply; ++p) {
    b.plies[p] = b.plies[0];
    b.plies[p - 1].currentMove = 0;
  }
}

// Plays a move from `ply` as the search would and readies the next ply.
void play(board& b, int ply, chessMove m) {
  const int mover = b.pieceOn[moveFrom(m)];
  makeMove(b, u8(ply), m);
  b.plies[ply].currentMove = (m & MOVE_MASK) | (u32(mover) << 24);
  b.plies[ply + 1].listStart = b.plies[ply].listStart;
  b.plies[ply + 1].inCheck = kingAttacked(b, b.sideToMove) ? 1 : 0;
}

struct mateCase {
  const char* fen;
  int score;
  int depth;
};

}  // namespace

TEST(Search, FindsForcedMatesWithTheExactDistance) {
  const mateCase cases[] = {
      {"k7/8/2K5/8/8/8/8/7R w - - 0 1", 32000 - 3, 5},       // rook and king, mate in 2
      {"r6k/6pp/7N/8/8/1Q6/8/6K1 w - - 0 1", 32000 - 3, 8},  // queen sacrifice, smothered mate
      {"2k5/8/8/3K4/8/8/8/7R w - - 0 1", 32000 - 5, 11},     // mate in 3
      {"7r/8/8/8/3k4/8/8/2K5 b - - 0 1", 32000 - 5, 11},     // the same for Black
  };
  for (const mateCase& c : cases) {
    searchSetup s(c.fen);
    const positionImage before(*s);
    EXPECT_EQ(s.deepen(c.depth), c.score) << c.fen;
    EXPECT_TRUE(positionImage(*s) == before) << c.fen;
    EXPECT_EQ(s->keyCount, before.keyCount);
  }
  searchSetup smothered("r6k/6pp/7N/8/8/1Q6/8/6K1 w - - 0 1");
  smothered.deepen(8);
  EXPECT_EQ(smothered->plies[0].bestMove & MOVE_MASK, makeChessMove(sq("b3"), sq("g8")));
  EXPECT_EQ(int(smothered->plies[0].bestMove >> 24), WHITE_QUEEN);
}

TEST(Search, ClaimsNoMateWhereThereIsNone) {
  {
    searchSetup s;
    const positionImage before(*s);
    const int score = s.deepen(7);
    EXPECT_LT(std::abs(score), 200);
    EXPECT_TRUE(positionImage(*s) == before);
    EXPECT_EQ(s->rootDepthComplete, 0);  // alpha rose at the root, in the last iteration
    EXPECT_EQ(s->rootDepth, 7);
  }
  {
    searchSetup s("4k3/8/8/3n4/8/8/2B5/4K3 w - - 0 1");  // bishop against knight
    EXPECT_EQ(s.deepen(6), 0);
  }
  {
    searchSetup s("4k3/8/8/8/8/8/8/1NN1K3 w - - 0 1");  // two knights are no material draw
    const int score = s.deepen(5);
    EXPECT_GT(score, 300);
    EXPECT_LT(score, MATE_BAND);
  }
  {
    searchSetup s("7k/5Q2/6K1/8/8/8/8/8 b - - 0 1");  // stalemate
    EXPECT_EQ(s.deepen(3), 0);
  }
}

TEST(Search, RepetitionInsideTheSearch) {
  searchSetup s;
  board& b = *s;
  const chessMove out[] = {makeChessMove(sq("g1"), sq("f3")), makeChessMove(sq("g8"), sq("f6")),
                           makeChessMove(sq("f3"), sq("g1")), makeChessMove(sq("f6"), sq("g8"))};
  for (int p = 0; p < 4; ++p) play(b, p, out[p]);
  u64 nodes = b.nodes;
  EXPECT_EQ(alphaBeta(4, 3, -100, 100, b), 0);
  EXPECT_EQ(b.nodes, nodes + 1) << "scored at once";
  // Had the first knight move been irreversible, the first occurrence would
  // lie before it: no repetition.
  b.halfMoves = 3;
  nodes = b.nodes;
  alphaBeta(4, 3, -100, 100, b);
  EXPECT_GT(b.nodes, nodes + 1);
}

TEST(Search, FiftyMoveRuleYieldsToMate) {
  {
    searchSetup s("7k/5K2/8/8/8/8/8/6Q1 w - - 99 80");
    EXPECT_EQ(s.deepen(3), 32000 - 1);
  }
  {
    searchSetup s("7k/8/8/8/4K3/8/8/6Q1 w - - 99 80");
    EXPECT_EQ(s.deepen(4), 0);
  }
  {
    searchSetup s("7k/8/8/8/4K3/8/8/6Q1 w - - 90 80");
    EXPECT_GT(s.deepen(4), 500);
  }
}

TEST(Search, FiftyMoveDrawHoldsWhenAMoveCutsOff) {
  // Rxd3 wins the queen, but the game is drawn before it is played.
  searchSetup s("4k3/8/8/8/8/3q4/8/3RK3 w - - 100 80");
  board& b = *s;
  atPly(b, 2);
  EXPECT_EQ(alphaBeta(2, 2, -50, 50, b), 0);
  EXPECT_EQ(alphaBeta(2, 2, 10, 11, b), 0);
  // Checkmated all the same.
  searchSetup mated("R5k1/5ppp/8/8/8/8/8/6K1 b - - 100 80");
  atPly(*mated, 2);
  EXPECT_EQ(alphaBeta(2, 2, -50, 50, *mated), 2 - 32000);
}

TEST(Search, ANodeWhoseMovesAreAllPrunedFailsLowButNeverClaimsAMate) {
  // Every quiet move has a bad record in all three histories, so history
  // pruning skips them all at depth 3; neither side can capture anything.
  // Each side to move, out of check and in check (only king steps).
  struct prunedCase {
    const char* fen;
    int mover, other;  // the kings that made the two moves before
  } cases[] = {
      {"4k3/8/8/8/8/8/8/R3K3 w - - 0 1", BLACK_KING, WHITE_KING},
      {"4k3/8/8/8/8/8/8/R3K2r w - - 0 1", BLACK_KING, WHITE_KING},
      {"r3k3/8/8/8/8/8/8/4K3 b - - 0 1", WHITE_KING, BLACK_KING},
      {"r3k2R/8/8/8/8/8/8/4K3 b - - 0 1", WHITE_KING, BLACK_KING},
  };
  for (const prunedCase& c : cases) {
    searchSetup s(c.fen);
    board& b = *s;
    atPly(b, 2);
    b.plies[0].currentMove = makeChessMove(sq("e7"), sq("e8")) | (u32(c.mover) << 24);
    b.plies[1].currentMove = makeChessMove(sq("e2"), sq("e1")) | (u32(c.other) << 24);
    const auto badRecords = [&] {
      std::fill(s.pair1.get(), s.pair1.get() + PAIR_TABLE, i16(-100));
      std::fill(s.pair2.get(), s.pair2.get() + PAIR_TABLE, i16(-100));
      for (auto& row : b.history) std::fill(std::begin(row), std::end(row), i16(-100));
    };
    badRecords();
    EXPECT_EQ(alphaBeta(2, 3, -50, 50, b), -50) << c.fen;
    EXPECT_EQ(entryBound(hashTable.probe(b.hashKey)), BOUND_NONE) << c.fen;
    // Full and widened aspiration windows: mate-distance pruning lifts alpha
    // into the mate band, where failing low would read as being mated.
    for (const auto& [alpha, beta] : {std::pair{-32000, 32000}, {-32767, 32767}, {-32000, 60}, {-32000, -31000}}) {
      hashTable.clear(1);
      badRecords();
      const int v = alphaBeta(2, 3, i16(alpha), i16(beta), b);
      EXPECT_GT(v, -MATE_BAND) << c.fen << " window " << alpha << ' ' << beta;
      EXPECT_LT(v, MATE_BAND) << c.fen << " window " << alpha << ' ' << beta;
    }
  }
}

TEST(Search, MateDistanceWindow) {
  searchSetup s("R5k1/5ppp/8/8/8/8/8/6K1 b - - 0 1");  // Black is mated
  board& b = *s;
  atPly(b, 5);
  EXPECT_EQ(alphaBeta(5, 1, -32000, 32000, b), 5 - 32000);
  EXPECT_EQ(quiescence(3, 0, -32000, 32000, b), 3 - 32000);
  // Nothing at ply 5 can score above 32001 - 5: the window closes at once.
  const u64 nodes = b.nodes;
  EXPECT_EQ(alphaBeta(5, 3, 31996, 31999, b), 31996);
  EXPECT_EQ(b.nodes, nodes + 1);
}

TEST(Search, TableCutsOffOnlyInNullWindowNodesBelowTheRoot) {
  searchSetup s("4k3/8/8/8/8/8/4P3/4K3 w - - 0 1");
  board& b = *s;
  atPly(b, 2);
  hashTable.store(b.hashKey, 0, 250, 6, BOUND_EXACT);
  u64 nodes = b.nodes;
  EXPECT_EQ(alphaBeta(2, 4, 10, 11, b), 250);
  EXPECT_EQ(b.nodes, nodes + 1);
  nodes = b.nodes;
  alphaBeta(2, 4, 10, 300, b);  // a PV node searches
  EXPECT_GT(b.nodes, nodes + 1);
  // An upper bound above alpha proves nothing.
  hashTable.store(b.hashKey, 0, 250, 6, BOUND_UPPER);
  nodes = b.nodes;
  alphaBeta(2, 4, 10, 11, b);
  EXPECT_GT(b.nodes, nodes + 1);
}

TEST(Search, StopsOnTheFlagAndOnTheClock) {
  searchSetup s;
  board& b = *s;
  s.control.stop.store(true);
  EXPECT_EQ(alphaBeta(0, 5, -32767, 32767, b), 0);
  EXPECT_EQ(b.nodes, 1u);
  s.control.stop.store(false);
  s.control.infinite.store(false);
  s.control.startMs.store(nowMs() - 10);
  s.control.hardTime.store(5);
  b.nodesToClockCheck = 0;
  EXPECT_EQ(alphaBeta(0, 5, -32767, 32767, b), 0);
  EXPECT_TRUE(s.control.stopped());
  EXPECT_EQ(b.nodesToClockCheck, 4096);
}

TEST(Quiescence, DrawsAndTableBounds) {
  {
    searchSetup s("4k3/8/8/8/8/8/8/1N2K3 w - - 0 1");
    EXPECT_EQ(quiescence(0, 0, -1000, 1000, *s), 0);
    searchSetup r("4k3/8/8/8/8/8/8/R3K3 w - - 0 1");
    EXPECT_GT(quiescence(0, 0, -1000, 1000, *r), 300);
  }
  searchSetup s("4k3/8/8/8/8/8/8/R3K3 w - - 0 1");  // no capture anywhere
  board& b = *s;
  const int eval = evaluate(b);
  hashTable.store(b.hashKey, 0, i16(eval + 50), -20, BOUND_LOWER);
  EXPECT_EQ(quiescence(0, 0, -1000, 1000, b), eval + 50);
  hashTable.store(b.hashKey, 0, i16(eval - 50), -20, BOUND_UPPER);
  EXPECT_EQ(quiescence(0, 0, -1000, 1000, b), eval - 50);
  hashTable.store(b.hashKey, 0, i16(eval + 7), -100, BOUND_EXACT);
  EXPECT_EQ(quiescence(0, 0, -1000, 1000, b), eval + 7);
  // Mate-band scores are read relative to the probing ply.
  atPly(b, 10);
  hashTable.store(b.hashKey, 0, 31990, 0, BOUND_EXACT);
  EXPECT_EQ(quiescence(10, 0, -32000, 32000, b), 31980);
  hashTable.store(b.hashKey, 0, -31990, 0, BOUND_EXACT);
  EXPECT_EQ(quiescence(10, 0, -32000, 32000, b), -31980);
}

TEST(Quiescence, ExchangeFilterAndRecaptureBands) {
  // Qxd5 loses the queen for a pawn: the only capture on the board.
  searchSetup s("4k3/8/2p5/3p4/8/8/8/3QK3 w - - 0 1");
  board& b = *s;
  atPly(b, 2);
  auto childrenAt = [&](int depth, const char* lastTo) {
    b.plies[1].currentMove = makeChessMove(sq("c7"), sq(lastTo));
    const u64 before = b.qNodes;
    quiescence(2, depth, -1000, 1000, b);
    return b.qNodes - before - 1;
  };
  EXPECT_EQ(childrenAt(-2, "d5"), 0u) << "filtered by the exchange test";
  EXPECT_GT(childrenAt(1, "d5"), 0u) << "no filter above the horizon";
  EXPECT_GT(childrenAt(-6, "d5"), 0u) << "a recapture on the last square is searched";
  EXPECT_EQ(childrenAt(-6, "e4"), 0u) << "deep down only recaptures are made";
}

TEST(Quiescence, CheckIsAnsweredUntilDeepDown) {
  // White is in check from the rook and has a single quiet evasion, Kb1.
  searchSetup s("8/8/8/8/8/2k5/8/K6r w - - 0 1");
  board& b = *s;
  ASSERT_EQ(b.plies[0].inCheck, 1);
  atPly(b, 3);
  u64 before = b.qNodes;
  const int score = quiescence(3, -3, -32000, 32000, b);
  EXPECT_GT(b.qNodes, before + 1);
  EXPECT_GT(score, 3 - 32000);
  // From depth -14 on, a check is no longer answered: the side has no
  // capture and keeps its mated score.
  b.plies[3].inCheck = 1;
  before = b.qNodes;
  EXPECT_EQ(quiescence(3, -14, -32000, 32000, b), 3 - 32000);
  EXPECT_EQ(b.qNodes, before + 1);
}

TEST(Search, ANodeWithoutRoomForItsListIsALeaf) {
  searchSetup s("r1bq1rk1/pp2bppp/2n1pn2/3p4/2PP4/2N1PN2/PP1B1PPP/R2QKB1R w KQ - 0 8");
  board& b = *s;
  atPly(b, 6);
  b.plies[6].listStart = b.plies[0].listStart + MOVE_BUFFER_SIZE - 100;
  const u64 nodes = b.nodes, qNodes = b.qNodes;
  EXPECT_EQ(alphaBeta(6, 5, -32000, 32000, b), evaluate(b));
  EXPECT_EQ(quiescence(6, 0, -32000, 32000, b), evaluate(b));
  EXPECT_EQ(b.nodes, nodes + 1);
  EXPECT_EQ(b.qNodes, qNodes + 1);
}
