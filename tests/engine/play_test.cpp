#include <gtest/gtest.h>

#include <regex>

#include "enginedriver.h"

namespace {

bool startsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

// A started engine past its banner.
struct Play : ::testing::Test {
  engineProcess e;
  void SetUp() override { ASSERT_TRUE(e.skipBanner()); }

  std::vector<std::string> bestmoveAfter(const std::string& go, int timeoutMs = 20000) {
    e.send(go);
    auto lines = e.readUntil("bestmove", scaledMs(timeoutMs));
    return lines ? *lines : std::vector<std::string>{"<timeout>"};
  }
};

const std::regex BESTMOVE(R"(bestmove [a-h][1-8][a-h][1-8][nbrq]?( ponder [a-h][1-8][a-h][1-8][nbrq]?)?)");

}  // namespace

TEST_F(Play, ShallowDepthPrintsOnlyTheBestMove) {
  auto lines = bestmoveAfter("go depth 5");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(lines[0], BESTMOVE)) << lines[0];
  // Unknown words and their values are skipped.
  lines = bestmoveAfter("go searchmoves e2e4 depth 5");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(std::regex_match(lines[0], BESTMOVE)) << lines[0];
}

TEST_F(Play, DeepIterationsReportCentipawnLines) {
  auto lines = bestmoveAfter("go depth 11", 60000);
  ASSERT_GE(lines.size(), 3u);
  const std::regex info(
      R"(info score cp -?\d+ depth (\d+) seldepth \d+ nodes \d+ nps \d+ time \d+ tbhits 0 pv( [a-h][1-8][a-h][1-8][nbrq]?)+ )");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines[0], m, info)) << lines[0];
  EXPECT_EQ(m[1], "10");
  ASSERT_TRUE(std::regex_match(lines[1], m, info)) << lines[1];
  EXPECT_EQ(m[1], "11");
  EXPECT_TRUE(std::regex_match(lines.back(), BESTMOVE)) << lines.back();
}

TEST_F(Play, CheckmatedRoot) {
  e.send("position fen rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3");
  auto lines = bestmoveAfter("go wtime 10000 btime 10000");
  EXPECT_EQ(lines, (std::vector<std::string>{"info score mate 0", "bestmove a1a1"}));
}

TEST_F(Play, MateInTwoIsAnnouncedAndEndsTheSearch) {
  // Qb8+ Rxb8 Rxb8#: the mate ends the search long before the clock would.
  e.send("position fen r5k1/5ppp/8/8/8/8/1Q3PPP/1R4K1 w - - 0 1");
  auto lines = bestmoveAfter("go wtime 600000 btime 600000");
  ASSERT_GE(lines.size(), 2u);
  EXPECT_TRUE(startsWith(lines[lines.size() - 2], "info score mate 2 depth ")) << lines[lines.size() - 2];
  EXPECT_TRUE(startsWith(lines.back(), "bestmove b2b8")) << lines.back();
  // And from the losing side.
  e.send("position fen k7/2K5/8/8/8/8/8/1R6 b - - 0 1");
  lines = bestmoveAfter("go depth 8");
  ASSERT_GE(lines.size(), 2u);
  EXPECT_TRUE(startsWith(lines[lines.size() - 2], "info score mate -1 depth ")) << lines[lines.size() - 2];
  EXPECT_TRUE(startsWith(lines.back(), "bestmove a8a7")) << lines.back();
}

TEST_F(Play, InfiniteSearchAnswersAndStopsOnlyWhenTold) {
  e.send("go infinite");
  e.send("isready");
  auto lines = e.readUntil("readyok", scaledMs(5000));
  ASSERT_TRUE(lines);
  for (const auto& l : *lines) EXPECT_TRUE(startsWith(l, "info") || l == "readyok") << l;
  // No bestmove on its own.
  for (const auto& l : e.drain(500)) EXPECT_FALSE(startsWith(l, "bestmove")) << l;
  auto answer = bestmoveAfter("stop", 2000);
  EXPECT_TRUE(std::regex_match(answer.back(), BESTMOVE)) << answer.back();
}

TEST_F(Play, PonderhitContinuesUnderTheClock) {
  e.send("position startpos moves e2e4");
  e.send("go ponder wtime 60000 btime 60000");
  for (const auto& l : e.drain(300)) EXPECT_FALSE(startsWith(l, "bestmove")) << l;
  // Early ponderhit: the search goes on and ends by its own budget.
  auto lines = bestmoveAfter("ponderhit", 10000);
  EXPECT_TRUE(std::regex_match(lines.back(), BESTMOVE)) << lines.back();
}

TEST_F(Play, PonderhitAfterTheBudgetReportsAtOnce) {
  e.send("go ponder wtime 200 btime 200");
  // The budget is long used up, yet pondering holds the answer back.
  for (const auto& l : e.drain(1000)) EXPECT_FALSE(startsWith(l, "bestmove")) << l;
  auto lines = bestmoveAfter("ponderhit", 2000);
  EXPECT_TRUE(std::regex_match(lines.back(), BESTMOVE)) << lines.back();
  // "stop" ends a ponder search as well.
  e.send("go ponder wtime 60000 btime 60000");
  lines = bestmoveAfter("stop", 2000);
  EXPECT_TRUE(std::regex_match(lines.back(), BESTMOVE)) << lines.back();
}

TEST_F(Play, ThreadCountChangesBetweenSearches) {
  for (const char* n : {"1", "4", "2"}) {
    e.send(std::string("setoption name Threads value ") + n);
    auto confirm = e.readUntil("info string Number", scaledMs(10000));
    ASSERT_TRUE(confirm);
    EXPECT_EQ(confirm->back(), std::string("info string Number of threads set to : ") + n);
    auto lines = bestmoveAfter("go movetime 300");
    EXPECT_TRUE(std::regex_match(lines.back(), BESTMOVE)) << lines.back();
  }
}

TEST_F(Play, HostileGoValuesStillAnswer) {
  for (const char* go : {"go wtime -5 btime -5", "go wtime abc", "go movestogo 0 wtime 1000 btime 1000",
                         "go wtime 1000 btime 99999999999", "go wtime 2147483647 movetime 100",
                         "go depth -3 movetime 100", "go winc -1000 wtime 0", "go movetime 50 nodes -1 mate x", "go movetime -20 wtime 500 btime 500"}) {
    auto lines = bestmoveAfter(go, 10000);
    EXPECT_TRUE(std::regex_match(lines.back(), BESTMOVE)) << go << ": " << lines.back();
  }
}

TEST_F(Play, CommandsDuringASearchKeepTheEngineAnswering) {
  e.send("go infinite");
  e.send("position startpos moves e2e4");
  // The table may not be rebuilt under a running search: the search ends first.
  e.send("setoption name Hash value 8");
  auto lines = e.readUntil("info string Size", scaledMs(5000));
  ASSERT_TRUE(lines);
  bool sawBest = false;
  for (const auto& l : *lines) sawBest = sawBest || startsWith(l, "bestmove");
  EXPECT_TRUE(sawBest);
  // The next search starts from the new position: Black to move.
  auto answer = bestmoveAfter("go depth 4");
  EXPECT_TRUE(std::regex_match(answer.back(), std::regex(R"(bestmove [a-h][78][a-h][5-6].*)"))) << answer.back();
}

TEST_F(Play, LongGameRecordIsSearchable) {
  std::string moves = "position startpos moves";
  for (int i = 0; i < 227; ++i) moves += " g1f3 g8f6 f3g1 f6g8";
  e.send(moves);
  auto lines = bestmoveAfter("go depth 6");
  EXPECT_TRUE(std::regex_match(lines.back(), BESTMOVE)) << lines.back();
}

TEST(PlayShutdown, QuitOrEndOfInputDuringAnEndlessSearchReportsAndExits) {
  {
    engineProcess e;
    ASSERT_TRUE(e.skipBanner());
    e.send("go infinite");
    e.send("quit");
    auto lines = e.readUntil("bestmove", scaledMs(5000));
    EXPECT_TRUE(lines);
    EXPECT_EQ(e.waitExit(scaledMs(5000)), 0);
  }
  {
    engineProcess e;
    ASSERT_TRUE(e.skipBanner());
    e.send("go ponder");
    e.closeInput();
    auto lines = e.readUntil("bestmove", scaledMs(5000));
    EXPECT_TRUE(lines);
    EXPECT_EQ(e.waitExit(scaledMs(5000)), 0);
  }
}

TEST(Bench, NodeCountIsTheSameOnEveryRun) {
  const std::regex total(R"((\d+) nodes (\d+) nps)");
  std::string counts[2];
  for (auto& count : counts) {
    engineProcess e({"bench", "5"});
    auto lines = e.drain(scaledMs(60000));  // ends with the output
    EXPECT_EQ(e.waitExit(scaledMs(10000)), 0);
    ASSERT_FALSE(lines.empty());
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines.back(), m, total)) << lines.back();
    count = m[1];
  }
  EXPECT_EQ(counts[0], counts[1]);
  EXPECT_NE(counts[0], "0");
}
