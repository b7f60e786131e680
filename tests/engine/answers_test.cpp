// How soon, and with what, "go" is answered in the situations that used to go
// wrong: a slow first search on a large table, a mate read into a pruned
// node, a ponder search that has proved its mate, a system without threads.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "textmatch.h"
#include "enginedriver.h"

namespace {

using steady = std::chrono::steady_clock;

long msSince(steady::time_point t) {
  return long(std::chrono::duration_cast<std::chrono::milliseconds>(steady::now() - t).count());
}

bool startsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

TEST(Answers, TheFirstSearchOnAFreshLargeTableKeepsItsTime) {
  engineProcess e;
  ASSERT_TRUE(e.skipBanner());
  e.send("setoption name Hash value 1024");
  e.send("isready");
  ASSERT_TRUE(e.readUntil("readyok", scaledMs(60000)));
  e.send("position startpos");
  const auto sent = steady::now();
  e.send("go movetime 100");
  ASSERT_TRUE(e.readUntil("bestmove", scaledMs(10000)));
  EXPECT_LT(msSince(sent), scaledMs(600));
  e.send("quit");
  EXPECT_EQ(e.waitExit(scaledMs(10000)), 0);
}

TEST(Answers, AMateInFourIsNeverReportedAsAMateInOne) {
  // After the first move the defender has two captures, both of which the
  // exchange test prunes near the leaves. Each colour.
  const std::pair<const char*, const char*> cases[] = {
      {"n1B4k/2P2K2/1P4P1/P4N2/3q4/8/8/8 w - - 0 1", "bestmove f5d4"},
      {"8/8/8/3Q4/p4n2/1p4p1/2p2k2/N1b4K b - - 0 1", "bestmove f4d5"}};
  engineProcess e;
  ASSERT_TRUE(e.skipBanner());
  for (const auto& [fen, move] : cases) {
    e.send(std::string("position fen ") + fen);
    e.send("go wtime 60000 btime 60000");
    const auto lines = e.readUntil("bestmove", scaledMs(30000));
    ASSERT_TRUE(lines) << fen;
    bool mateInFour = false;
    for (const auto& l : *lines) {
      EXPECT_EQ(l.find("score mate 1 "), std::string::npos) << l;
      mateInFour = mateInFour || startsWith(l, "info score mate 4 depth 7 ");
    }
    EXPECT_TRUE(mateInFour) << fen;
    EXPECT_TRUE(startsWith(lines->back(), move)) << lines->back();
  }
  e.send("quit");
  EXPECT_EQ(e.waitExit(scaledMs(10000)), 0);
}

TEST(Answers, PonderhitAfterAProvenMateLimitAnswersAtOnce) {
  engineProcess e;
  ASSERT_TRUE(e.skipBanner());
  e.send("setoption name UseNNUE value false");  // the depth of the proof is the hand-written one's
  e.send("position fen 8/8/8/4k3/8/8/8/KQR5 w - - 0 1");
  e.send("go ponder mate 8 wtime 10000 btime 10000");
  // The proof comes at depth 12; the iterations then rest until "ponderhit"
  // (had they gone on, "ponderhit" would wait for the one running).
  ASSERT_TRUE(e.readUntil("info score mate 8 depth 12 ", scaledMs(20000)));
  const auto proved = steady::now();
  while (msSince(proved) < scaledMs(1000))
    if (const auto l = e.readLine(50)) ADD_FAILURE() << "after the proof: " << *l;
  const auto sent = steady::now();
  e.send("ponderhit");
  ASSERT_TRUE(e.readUntil("bestmove", scaledMs(5000)));
  EXPECT_LT(msSince(sent), scaledMs(500));
  e.send("quit");
  EXPECT_EQ(e.waitExit(scaledMs(10000)), 0);
}

// The thread-refusing library intercepts thread creation ahead of the
// sanitizers' runtimes, which then must not insist on coming first.
TEST(Answers, WithoutAnyThreadGoIsStillAnswered) {
  std::string asan = "ASAN_OPTIONS=verify_asan_link_order=0";
  if (const char* old = std::getenv("ASAN_OPTIONS")) asan += std::string(":") + old;
  engineProcess e({}, 0, {"LD_PRELOAD=" DRAVLIN_NOTHREADS_LIB, asan});
  // Start-up survives: the tables it fills on a helper thread are filled here.
  ASSERT_TRUE(e.skipBanner());
  // The tables come after the banner, filled and cleared on this one thread.
  auto line = e.readLine(scaledMs(30000));
  EXPECT_EQ(line, "info string Only 0 of 1 search threads could be started");
  e.send("setoption name Threads value 2");
  auto lines = e.readUntil("info string Number", scaledMs(5000));
  ASSERT_TRUE(lines);
  EXPECT_EQ(lines->back(), "info string Number of threads set to : 0");

  const rx::pattern legal(R"(bestmove (g1f3|g1h3|b1a3|b1c3|[a-h]2[a-h][34]))");
  for (const char* go : {"go depth 5", "go infinite", "go ponder wtime 1000 btime 1000"}) {
    e.send("position startpos");
    e.send(go);
    lines = e.readUntil("bestmove", scaledMs(2000));
    ASSERT_TRUE(lines) << go;
    EXPECT_TRUE(startsWith(lines->front(), "info string ")) << lines->front();
    EXPECT_TRUE(rx::match(lines->back(), legal)) << lines->back();
  }
  e.send("position fen rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3");  // mated
  e.send("go depth 5");
  lines = e.readUntil("bestmove", scaledMs(2000));
  ASSERT_TRUE(lines);
  EXPECT_EQ(lines->back(), "bestmove a1a1");
  e.send("quit");
  EXPECT_EQ(e.waitExit(scaledMs(10000)), 0);
}
