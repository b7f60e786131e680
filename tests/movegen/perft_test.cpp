#include <gtest/gtest.h>

#include <cstring>

#include "movegen/perft.h"
#include "movegen/perftfile.h"
#include "testutil.h"

namespace {

struct perftCase {
  const char* fen;
  u32 depth;
  u64 nodes;
};

// Published reference counts; the depths keep the whole table to a few
// seconds under the sanitizers (the long runs belong to bench/perft.sh).
const perftCase referenceCases[] = {
    {START_FEN, 1, 20},
    {START_FEN, 2, 400},
    {START_FEN, 3, 8902},
    {START_FEN, 5, 4865609},
    {START_FEN, 6, 119060324},
    {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", 1, 48},
    {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", 2, 2039},
    {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", 4, 4085603},
    {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", 5, 193690690},
    {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1", 6, 11030083},
    {"r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1", 5, 15833292},
    {"r2q1rk1/pP1p2pp/Q4n2/bbp1p3/Np6/1B3NBn/pPPP1PPP/R3K2R b KQ - 0 1", 4, 422333},
    {"rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8", 4, 2103487},
    {"r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - - 0 10", 4, 3894594},
    {"n1n5/PPPk4/8/8/8/8/4Kppp/5N1N b - - 0 1", 5, 3605103},
    // bxc6 e.p. would take the checker off the bishop's diagonal to the king.
    {"8/b7/8/1Pp5/3K4/8/8/7k w - c6 0 1", 1, 7},
};

}  // namespace

TEST(Perft, ReferencePositions) {
  for (const perftCase& c : referenceCases) {
    testBoard tb(c.fen);
    EXPECT_EQ(perft(0, c.depth, *tb), c.nodes) << c.fen << " depth " << c.depth;
  }
}

// Chess960 and DFRC start positions, positions from play and the castling
// corner cases, each in Shredder-FEN and in X-FEN; the counts come from
// another engine (data/perft960.py).
TEST(Perft, Chess960ReferenceFile) {
  ensureTables();
  std::string failed;
  const bool ok = perftFileCheck(
      DRAVLIN_SOURCE_DIR "/data/perft960.txt",
      [&failed](const std::string& line) {
        if (line.rfind("1; ", 0) != 0) failed += line;
      },
      [] {}, true);
  EXPECT_TRUE(ok) << failed;
}

TEST(Perft, DepthZeroAndPositionsWithoutMoves) {
  testBoard start;
  EXPECT_EQ(perft(0, 0, *start), 1u);
  // Mated (fool's mate) and stalemated: nothing at any depth.
  for (const char* fen : {"rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3", "7k/5Q2/6K1/8/8/8/8/8 b - - 0 1"}) {
    testBoard tb(fen);
    EXPECT_EQ(perft(0, 1, *tb), 0u) << fen;
    EXPECT_EQ(perft(0, 2, *tb), 0u) << fen;
    EXPECT_EQ(perft(0, 0, *tb), 1u) << fen;
  }
  // Kingless set-ups are counted without touching memory they do not own.
  testBoard rookOnly("8/8/8/8/8/8/8/R7 w - - 0 1");
  EXPECT_EQ(perft(0, 1, *rookOnly), 14u);
  EXPECT_EQ(perft(0, 3, *rookOnly), 0u);
}

TEST(Perft, TimedRunCountsOnACopy) {
  ensureTables();
  testBoard tb(START_FEN);
  const perftTiming t = perftTimed(3, *tb);
  EXPECT_EQ(t.nodes, 8902u);
  EXPECT_GT(t.elapsedNs, 0);  // the run is timed, not left at zero
}
