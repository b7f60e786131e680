#include "engine/fixedsearch.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/report.h"
#include "nnue/net.h"
#include "testutil.h"

namespace {

const char* const MIDDLEGAME = "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1";
const char* const ENDGAME = "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1";

std::string text(const fixedSearcher::result& r) {
  return std::to_string(r.move) + " " + std::to_string(r.score) + " " + std::to_string(r.nodes);
}

}  // namespace

// A search stands alone: after other searches (another position, another
// evaluation) and a new game it gives the same move, score and nodes, with
// the net of its own call. The soft limit is counted (the search ends near
// it, far below the hard one), and the searching is timed.
TEST(FixedSearch, EachSearchStandsAlone) {
  testBoard middlegame(MIDDLEGAME), endgame(ENDGAME);
  setReportSink([](const std::string&) {});
  auto net = std::make_unique<nnue::network>();
  ASSERT_EQ(nnue::loadNetByName(nnue::EMBEDDED_NET_NAME, *net), "");

  fixedSearcher s;
  s.newGame();
  const fixedSearcher::result first = s.search(*middlegame, 2000, 1000000, nullptr);
  const fixedSearcher::result withNet = s.search(*middlegame, 2000, 1000000, net.get());
  s.search(*endgame, 2000, 1000000, net.get());
  s.newGame();
  const fixedSearcher::result again = s.search(*middlegame, 2000, 1000000, nullptr);
  installOutputSinks();

  EXPECT_EQ(text(again), text(first));
  EXPECT_NE(withNet.nodes, first.nodes);
  EXPECT_NE(first.move, 0u);
  EXPECT_GE(first.nodes, 2000u);
  EXPECT_LT(first.nodes, 100000u) << text(first);
  EXPECT_GT(s.searchCpuNs(), 0u);
}
