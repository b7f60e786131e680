#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "eval/eval.h"
#include "testutil.h"
#include "tuner/texel.h"

namespace {

const std::string MISSING = "There seems to be a problem with the tuning file. tuning not executed\n";

// Runs each test in an empty temporary directory, where the tuner looks for
// its file; the previous directory and the global data are restored after.
class Texel : public testing::Test {
 protected:
  void SetUp() override {
    ensureTables();
    char buf[PATH_MAX];
    ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
    previous = buf;
    char tmpl[] = "/tmp/dravlin-texel-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    ASSERT_EQ(chdir(dir.c_str()), 0);
    tuningData.clear();
  }
  void TearDown() override {
    stopTuningThreads();
    tuningData.clear();
    EXPECT_EQ(chdir(previous.c_str()), 0);
    std::remove((dir + "/lichess-good.epd").c_str());
    rmdir(dir.c_str());
  }
  void writeFile(const std::string& text) { std::ofstream("lichess-good.epd", std::ios::binary) << text; }

  std::string previous, dir;
};

// Labelled positions; both sides to move, so the White-view sign matters.
const std::vector<std::pair<std::string, double>> SAMPLE = {
    {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", 0.5},
    {"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3", 1.0},
    {"4k3/8/8/8/8/8/8/4K2R w K -", 1.0},
    {"4k3/8/8/8/8/8/8/3QK3 b - -", 0.0},
    {"r3k3/8/8/8/8/8/8/4K3 w q -", 0.0},
    {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R b KQkq -", 0.5},
    {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -", 0.0},
};

std::string label(double result) {
  return result == 1.0 ? "\"1-0\";" : result == 0.0 ? "\"0-1\";" : "\"1/2-1/2\";";
}

std::string sampleFile() {
  std::string text;
  for (auto& [fen, result] : SAMPLE) text += fen + " c9 " + label(result) + "\n";
  return text;
}

// The mean squared error worked out here, without the tuner.
double expectedError(const std::vector<std::pair<std::string, double>>& data) {
  double sum = 0;
  for (auto& [fen, result] : data) {
    testBoard b(fen);
    double white = b->sideToMove == WHITE ? evaluate(*b) : -evaluate(*b);
    double p = 1.0 / (1.0 + std::pow(10.0, -1.83 * white / 400.0));
    sum += (result - p) * (result - p);
  }
  return sum / double(data.size());
}

std::string fmt(double v) {
  std::ostringstream s;
  s << v;
  return s.str();
}

}  // namespace

TEST_F(Texel, LoaderReadsLabelsAndSkipsUnusableLines) {
  writeFile(
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - c9 \"1-0\";\n"
      "\n"
      "4k3/8/8/8/8/8/8/4K2R   w K -\tc9 \"0-1\";\r\n"
      "no label on this line at all\n"
      "4k3/8/8/8/8/8/8/4K2R w K - c9\n"          // label without a result
      "c9 \"1-0\";\n"                            // result without a position
      "4k3/8/8/8/8/8/8/3QK3 b - - c9 \"1/2-1/2\";\n"
      "4k3/8/8/8/8/8/8/3QK3 b - - c9 1-0;\n"     // no quotation marks: not a White win
      "4k3/8/8/8/8/8/8/3QK3 b - - c9 \"1/2\" x\n"
      "4k3/8/8/8/8/8/8/3QK3 b - - c9 \"\n"
      "4k3/8/8/8/8/8/8/3QK3 b - - c9 \"*\"");     // last line without a newline
  testing::internal::CaptureStdout();
  EXPECT_EQ(loadTuningData(), 0);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "Skipped 3 unusable lines of the tuning file\n");

  const std::vector<std::pair<std::string, double>> want = {
      {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - ", 1.0},
      {"4k3/8/8/8/8/8/8/4K2R w K - ", 0.0},
      {"4k3/8/8/8/8/8/8/3QK3 b - - ", 0.5},
      {"4k3/8/8/8/8/8/8/3QK3 b - - ", 0.0},
      {"4k3/8/8/8/8/8/8/3QK3 b - - ", 0.5},
      {"4k3/8/8/8/8/8/8/3QK3 b - - ", 0.0},
      {"4k3/8/8/8/8/8/8/3QK3 b - - ", 0.0},
  };
  ASSERT_EQ(tuningData.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(tuningData[i].fen, want[i].first) << i;
    EXPECT_EQ(tuningData[i].result, want[i].second) << i;
  }

  // A second load appends the file again.
  testing::internal::CaptureStdout();
  EXPECT_EQ(loadTuningData(), 0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(tuningData.size(), 2 * want.size());
  EXPECT_EQ(tuningData[want.size()].fen, want[0].first);
}

TEST_F(Texel, MissingOrUselessFileLoadsNothing) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(loadTuningData(), 9);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), MISSING);

  writeFile("\n\njust words\nc9\n");
  testing::internal::CaptureStdout();
  EXPECT_EQ(loadTuningData(), 9);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("tuning not executed"), std::string::npos);
  EXPECT_TRUE(tuningData.empty());

  // End to end: only the message, and no tuning thread is started.
  std::remove("lichess-good.epd");
  std::string out = runEngineWith("texel\n");
  EXPECT_EQ(out.substr(out.find("commands\n") + 9), MISSING);
}

TEST_F(Texel, SharesAreContiguousAndTheLastTakesTheRest) {
  for (int i = 0; i < 100; ++i)
    tuningData.push_back({SAMPLE[i % SAMPLE.size()].first + " ", SAMPLE[i % SAMPLE.size()].second});
  testing::internal::CaptureStdout();
  startTuningThreads();
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(tuningPool.size(), 24u);
  for (size_t i = 0; i < 24; ++i) {
    EXPECT_EQ(tuningPool[i]->index, i);
    ASSERT_EQ(tuningPool[i]->entries.size(), i < 23 ? 4u : 8u) << i;
    EXPECT_EQ(tuningPool[i]->entries[0].fen, tuningData[4 * i].fen) << i;
  }
  std::vector<std::pair<std::string, double>> all;
  for (int i = 0; i < 100; ++i) all.push_back(SAMPLE[i % SAMPLE.size()]);
  EXPECT_NEAR(meanError(), expectedError(all), 1e-12);
  // The threads can be run again with the same answer.
  EXPECT_NEAR(meanError(), expectedError(all), 1e-12);

  // Fewer entries than threads: everything goes to the last one.
  tuningData.resize(5);
  testing::internal::CaptureStdout();
  startTuningThreads();
  testing::internal::GetCapturedStdout();
  for (size_t i = 0; i < 23; ++i) EXPECT_TRUE(tuningPool[i]->entries.empty());
  EXPECT_EQ(tuningPool[23]->entries.size(), 5u);
  EXPECT_NEAR(meanError(), expectedError({all.begin(), all.begin() + 5}), 1e-12);
}

TEST_F(Texel, CommandReportsTheMeanSquaredError) {
  writeFile(sampleFile());
  const std::string e = fmt(expectedError(SAMPLE));
  std::string lets;
  for (int i = 0; i < 24; ++i) lets += "Lets go\n";
  const std::string run = lets + "Starting texel tuning....\nStarting error " + e + "\n\n Improving: 1\nEnding error " +
                          e + " Minimum error " + e + "\n";

  std::string out = runEngineWith("texel\n");
  EXPECT_EQ(out.substr(out.find("commands\n") + 9), run);
  // The second command appends the same file again: twice the threads'
  // greeting, and the mean of the doubled data is unchanged.
  out = runEngineWith("texel\ntexel\n");
  EXPECT_EQ(out.substr(out.find("commands\n") + 9), run + run);
}

TEST(TexelDescent, KeepsEveryStepThatLowersTheError) {
  int x = 0, y = 0;
  std::vector<tuningParam> params = {{"x", &x}, {"y", &y}};
  int calls = 0;
  auto error = [&] {
    ++calls;
    return double((x - 3) * (x - 3) + (y + 2) * (y + 2)) + 1.0;
  };
  testing::internal::CaptureStdout();
  minimiseError(params, error);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(x, 3);
  EXPECT_EQ(y, -2);
  // Passes 1-3 improve something, pass 4 improves nothing and ends the descent.
  EXPECT_EQ(out,
            "Starting error 14\n\n Improving: 1\n\n Improving: 2\n\n Improving: 3\n\n Improving: 4\n"
            "Ending error 1 Minimum error 1\n");

  testing::internal::CaptureStdout();
  printParams(params);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "x = 3;\ny = -2;\n");

  // With no parameters: one pass, nothing changes, both errors agree.
  std::vector<tuningParam> none;
  testing::internal::CaptureStdout();
  minimiseError(none, [] { return 0.25; });
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Starting error 0.25\n\n Improving: 1\nEnding error 0.25 Minimum error 0.25\n");
}
