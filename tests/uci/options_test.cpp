#include <gtest/gtest.h>


#include "textmatch.h"
#include "../engine/enginedriver.h"

TEST(Options, UciIdentification) {
  engineProcess e;
  ASSERT_TRUE(e.skipBanner());
  const std::vector<std::string> expected = {
      "id name Dravlin 2.210 NOP",
      "id author Quellmark",
      "option name Hash type spin default 256 min 1 max 262144",
      "option name Threads type spin default 1 min 1 max 256",
      "option name Ponder type check default false",
      "option name MoveOverhead type spin default 100 min 1 max 60000",
      "option name SyzygyPath type string default <empty>",
      "option name SyzygyProbeDepth type spin default 0 min 0 max 127",
      "option name MultiPV type spin default 1 min 1 max 256",
      "option name UCI_ShowWDL type check default false",
      "option name Clear Hash type button",
      "option name UCI_Chess960 type check default false",
      "option name UCI_LimitStrength type check default false",
      "option name UCI_Elo type spin default 1500 min 1350 max 2850",
      "option name UseNNUE type check default true",
      "option name EvalFile type string default <embedded>",
      "uciok",
  };
  EXPECT_EQ(answersTo(e, {"uci"}), expected);
}

TEST(Options, ClampsAndConfirmations) {
  engineProcess e;
  ASSERT_TRUE(e.skipBanner());
  const std::vector<std::string> expected = {
      "info string Size of Hashtable set to : 1",
      "info string Size of Hashtable set to : 3",
      "info string Number of threads set to : 256",
      "info string Number of threads set to : 1",
      "info string Ponder set to : 0",
      "info string Ponder set to : 1",
      "info string SyzygyProbeDepth set to: 0",
      "info string SyzygyProbeDepth set to: 127",
      "info string MoveOverhead set to : 250",
      "info string MoveOverhead set to : 1",
      "info string MoveOverhead set to : 60000",
      "info string MultiPV set to : 1",
      "info string MultiPV set to : 1",
      "info string MultiPV set to : 256",
      "info string MultiPV set to : 3",
      "info string UCI_ShowWDL set to : 0",
      "info string Hash cleared",
      "info string Hash cleared",
      "info string UCI_LimitStrength set to : 1",
      "info string UCI_LimitStrength set to : 0",
      "info string UCI_Elo set to : 1350",
      "info string UCI_Elo set to : 2850",
      "info string UCI_Elo set to : 1800",
  };
  EXPECT_EQ(answersTo(e, {"setoption name Hash value 0", "setoption name Hash value 3", "setoption name Threads value 300",
                          "setoption name Threads value 1", "setoption name Ponder value True",
                          "setoption name Ponder value true", "setoption name SyzygyProbeDepth value -5",
                          "setoption name SyzygyProbeDepth value 200", "setoption name MoveOverhead value 250ms",
                          "setoption name MoveOverhead value   -7", "setoption name MoveOverhead value +2147483647",
                          "setoption name MultiPV value 0", "setoption name MultiPV value -3",
                          "setoption name MultiPV value 999", "setoption name MultiPV value 3",
                          "setoption name UCI_ShowWDL value TRUE", "setoption name Clear Hash",
                          "setoption name Clear Hash value 12", "setoption name UCI_LimitStrength value true",
                          "setoption name UCI_LimitStrength value 1", "setoption name UCI_Elo value 800",
                          "setoption name UCI_Elo value 99999", "setoption name UCI_Elo value 1800"}),
            expected);
  // Unknown names and unreadable or 32-bit-overflowing numbers: no change, no line.
  EXPECT_EQ(answersTo(e, {"setoption name hash value 64", "setoption name Hash value abc",
                          "setoption name Hash value 99999999999", "setoption name Threads value -",
                          "setoption name Threads", "setoption name MoveOverhead value 2147483648",
                          "setoption name SyzygyProbeDepth value x5", "setoption", "setoption name",
                          "setoption name MultiPV value abc", "setoption name multipv value 2",
                          "setoption name clear hash", "setoption name UCI_Elo value abc",
                          "setoption name UCI_Elo value 3000000000", "setoption name uci_elo value 2000"}),
            std::vector<std::string>{});
  e.send("go movetime 50");
  EXPECT_TRUE(e.readUntil("bestmove", scaledMs(10000)));
}

TEST(Options, SyzygyPathKeepsBlanksInItsValue) {
  engineProcess e;
  ASSERT_TRUE(e.skipBanner());
  auto lines = answersTo(e, {"setoption name SyzygyPath value /no such   dir"});
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "info string Syzygy tablebases used from directory : /no such dir");
}

TEST(Options, RefusedThreadsAndHashAreConfirmedAsGranted) {
  // The sanitizers reserve more address space than the limit allows.
  if (std::getenv("DRAVLIN_SANITIZED")) GTEST_SKIP() << "needs an address-space limit";
  engineProcess e({}, rlim_t(1) << 30);
  ASSERT_TRUE(e.skipBanner());
  const auto threads = answersTo(e, {"setoption name Threads value 256"});
  rx::groups m;
  ASSERT_EQ(threads.size(), 2u);
  ASSERT_TRUE(rx::match(threads[0], m, rx::pattern("info string Only (\\d+) of 256 search threads could be started")))
      << threads[0];
  EXPECT_EQ(threads[1], "info string Number of threads set to : " + m[1]);
  EXPECT_EQ(answersTo(e, {"setoption name Hash value 4096"}),
            (std::vector<std::string>{"info string Hash table of 4096 MB could not be allocated, keeping 256 MB",
                                      "info string Size of Hashtable set to : 256"}));
  e.send("go movetime 200");
  EXPECT_TRUE(e.readUntil("bestmove", scaledMs(10000)));
  e.send("quit");
  EXPECT_EQ(e.waitExit(scaledMs(10000)), 0);
}

TEST(Options, Chess960PlaysAndWritesCastlingAsKingTakesRook) {
  engineProcess e;
  ASSERT_TRUE(e.skipBanner());
  EXPECT_EQ(answersTo(e, {"setoption name UCI_Chess960 value true"}),
            std::vector<std::string>{"info string UCI_Chess960 set to : 1"});
  // Castling mates at once: the king comes from b1 (from g8, where it stays).
  for (const auto& [fen, move] : {std::pair<std::string, std::string>{"4rkr1/4p1p1/8/8/8/8/8/1K5R w H - 0 1", "b1h1"},
                                  {"6kr/8/8/8/8/8/4P1P1/4RKR1 b h - 0 1", "g8h8"}}) {
    e.send("position fen " + fen);
    e.send("go depth 4");
    const auto got = e.readUntil("bestmove", scaledMs(10000));
    ASSERT_TRUE(got);
    EXPECT_EQ(got->back(), "bestmove " + move) << fen;
  }
  // With castling rights the tables answer no root, 960 rights included.
  e.send("setoption name SyzygyPath value " DRAVLIN_SYZYGY_DIR);
  e.send("position fen 1r2k3/8/8/8/8/8/8/1R2K3 w Bb - 0 1");
  e.send("go depth 4");
  const auto got = e.readUntil("bestmove", scaledMs(10000));
  ASSERT_TRUE(got);
  for (const std::string& line : *got) EXPECT_EQ(line.find("depth 127"), std::string::npos) << line;
}
