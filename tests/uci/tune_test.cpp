#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "../engine/enginedriver.h"
#include "textmatch.h"

// The tune build (DRAVLIN_TUNE) driven as a binary: the build directory makes
// it as dravlin-tune next to the engine (not in the sanitizer builds).
#ifdef DRAVLIN_TUNE_BINARY

namespace {

struct spinOption {
  std::string name;
  long start, min, max;
  bool operator==(const spinOption&) const = default;
};

// The node count of a bench run at the prompt: its last line.
std::string benchNodes(engineProcess& e, const std::string& command) {
  e.send(command);
  const rx::pattern count(R"((\d+) nodes \d+ nps)");
  rx::groups m;
  while (auto line = e.readLine(scaledMs(120000)))
    if (rx::match(*line, m, count)) return m[1];
  return "<none>";
}

}  // namespace

// "uci" lists the release build's options unchanged, then TuneNodes and one
// spin per tunable value; "spsa" prints the same values with the same
// defaults and ranges, in OpenBench's format.
TEST(TuneBuild, OptionsAndSpsaLinesAgree) {
  engineProcess release;
  ASSERT_TRUE(release.skipBanner());
  const std::vector<std::string> releaseLines = answersTo(release, {"uci"});
  EXPECT_EQ(answersTo(release, {"spsa", "setoption name RfpMargin value 70", "setoption name TuneNodes value 5"}),
            std::vector<std::string>{"Unknown command"});

  engineProcess e({}, 0, {}, DRAVLIN_TUNE_BINARY);
  ASSERT_TRUE(e.skipBanner());
  const std::vector<std::string> lines = answersTo(e, {"uci"});
  ASSERT_GT(lines.size(), releaseLines.size());
  // The release listing up to its "uciok", then the tune build's own.
  ASSERT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + long(releaseLines.size()) - 1),
            std::vector<std::string>(releaseLines.begin(), releaseLines.end() - 1));
  EXPECT_EQ(lines.back(), "uciok");
  const rx::pattern spin(R"(option name (\S+) type spin default (-?\d+) min (-?\d+) max (-?\d+))");
  std::vector<spinOption> options;
  for (std::size_t i = releaseLines.size() - 1; i + 1 < lines.size(); ++i) {
    rx::groups m;
    ASSERT_TRUE(rx::match(lines[i], m, spin)) << lines[i];
    options.push_back({m[1], std::stol(m[2]), std::stol(m[3]), std::stol(m[4])});
  }
  ASSERT_FALSE(options.empty());
  EXPECT_EQ(options[0], (spinOption{"TuneNodes", 0, 0, 100000000}));
  options.erase(options.begin());
  EXPECT_GE(options.size(), 20u);
  std::set<std::string> names;
  for (const spinOption& o : options) {
    EXPECT_TRUE(names.insert(o.name).second) << o.name << " twice";
    EXPECT_TRUE(o.min <= o.start && o.start <= o.max && o.min < o.max) << o.name;
  }

  const std::vector<std::string> spsa = answersTo(e, {"spsa"});
  const rx::pattern row(R"((\S+), int, (-?\d+), (-?\d+), (-?\d+), ([0-9.]+), ([0-9.]+))");
  std::vector<spinOption> tuned;
  for (const std::string& line : spsa) {
    rx::groups m;
    ASSERT_TRUE(rx::match(line, m, row)) << line;
    tuned.push_back({m[1], std::stol(m[2]), std::stol(m[3]), std::stol(m[4])});
    const double cEnd = std::stod(m[5]);
    EXPECT_GE(cEnd, 0.5) << line;  // smaller steps would round to the same integer on both sides
    EXPECT_LE(cEnd, double(tuned.back().max - tuned.back().min) / 4) << line;
    EXPECT_EQ(m[6], "0.002") << line;
  }
  EXPECT_EQ(tuned, options);
}

// The network's set starts at the hand-written values; a changed value moves
// the network's search only, and its tables follow the value both ways.
TEST(TuneBuild, ValuesMoveTheNetworkSearchOnly) {
  engineProcess e({}, 0, {}, DRAVLIN_TUNE_BINARY);
  ASSERT_TRUE(e.skipBanner());
  EXPECT_EQ(benchNodes(e, "bench nnue 6"), "171768");
  EXPECT_EQ(answersTo(e, {"setoption name RfpMargin value 999", "setoption name RfpMargin value 40"}),
            (std::vector<std::string>{"info string RfpMargin set to : 130", "info string RfpMargin set to : 40"}));
  const std::string withMargin = benchNodes(e, "bench nnue 6");
  EXPECT_NE(withMargin, "171768");
  answersTo(e, {"setoption name UseNNUE value false"});
  EXPECT_EQ(benchNodes(e, "bench"), "6007231");
  // A value behind a table: the table is made again on each change.
  EXPECT_EQ(answersTo(e, {"setoption name LmrDivisor value 60"}),
            std::vector<std::string>{"info string LmrDivisor set to : 60"});
  EXPECT_NE(benchNodes(e, "bench nnue 6"), withMargin);
  answersTo(e, {"setoption name LmrDivisor value 110", "setoption name RfpMargin value 65"});
  EXPECT_EQ(benchNodes(e, "bench nnue 6"), "171768");
}

// "TuneNodes" turns a clocked "go" into a search of that many nodes: with
// 10 ms on the clock it still searches them all, the same way each time.
TEST(TuneBuild, TuneNodesReplacesTheClock) {
  engineProcess e({}, 0, {}, DRAVLIN_TUNE_BINARY);
  ASSERT_TRUE(e.skipBanner());
  EXPECT_EQ(answersTo(e, {"setoption name TuneNodes value 150000"}),
            std::vector<std::string>{"info string TuneNodes set to : 150000"});
  std::vector<std::string> answers;
  for (int run = 0; run < 2; ++run) {
    answersTo(e, {"ucinewgame", "position startpos moves e2e4"});
    e.send("go wtime 10 btime 10 winc 0 binc 0");
    const auto lines = e.readUntil("bestmove", scaledMs(60000));
    ASSERT_TRUE(lines);
    rx::groups m;
    long nodes = 0;
    for (const std::string& line : *lines)
      if (rx::search(line, m, rx::pattern(R"( nodes (\d+) )"))) nodes = std::stol(m[1]);
    EXPECT_GE(nodes, 150000);
    EXPECT_LT(nodes, 170000);
    answers.push_back(lines->back() + " " + std::to_string(nodes));
  }
  EXPECT_EQ(answers[0], answers[1]);
}

#endif
