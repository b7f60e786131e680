#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "eval/eval.h"
#include "testutil.h"
#include "tuner/texel.h"

namespace {

// Each test runs in an empty temporary directory, where the tuner looks for
// "lichess-good.epd"; the previous directory and the data are restored after.
class Texel : public testing::Test {
 protected:
  void SetUp() override {
    ensureTables();
    previous = std::filesystem::current_path();
    char tmpl[] = "/tmp/dravlin-texel-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    std::filesystem::current_path(dir);
    tuner.data.clear();
  }
  void TearDown() override {
    stopTuningThreads();
    tuner.data.clear();
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(dir);
  }
  std::filesystem::path previous, dir;
};

void writeFile(const std::string& text) { std::ofstream("lichess-good.epd", std::ios::binary) << text; }

// Fewer positions than threads, both sides to move.
const std::vector<std::pair<std::string, double>> SAMPLE = {
    {"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3", 1.0},
    {"4k3/8/8/8/8/8/8/3QK3 b - -", 0.0},
    {"r3k3/8/8/8/8/8/8/4K3 w q -", 0.5},
    {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R b KQkq -", 0.5},
    {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -", 0.0},
};

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

std::string afterBanner(const std::string& out) { return out.substr(out.find("commands\n") + 9); }

}  // namespace

TEST_F(Texel, LoaderReadsLabelsAndSkipsUnusableLines) {
  writeFile(
      "4k3/8/8/8/8/8/8/4K2R   w K -\tc9 \"1-0\";\r\n\n"
      "no label\n4k3/8/8/8/8/8/8/4K2R w K - c9\nc9 \"1-0\";\n"  // three unusable lines
      "4k3/8/8/8/8/8/8/3QK3 b - - c9 \"1/2-1/2\";\n"
      "4k3/8/8/8/8/8/8/3QK3 b - - c9 1-0;\n"  // unquoted: not read as a White win
      "4k3/8/8/8/8/8/8/3QK3 b - - c9 \"0-1\";");
  testing::internal::CaptureStdout();
  EXPECT_EQ(loadTuningData(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Skipped 3 unusable lines of the tuning file\n");
  ASSERT_EQ(tuner.data.size(), 4u);
  EXPECT_EQ(tuner.data[0].fen, "4k3/8/8/8/8/8/8/4K2R w K - ");
  EXPECT_EQ(tuner.data[3].fen, "4k3/8/8/8/8/8/8/3QK3 b - - ");
  const double want[] = {1.0, 0.5, 0.0, 0.0};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(tuner.data[i].result, want[i]) << i;

  std::remove("lichess-good.epd");
  // A missing file ends the command: no thread starts, nothing else prints.
  EXPECT_EQ(afterBanner(runEngineWith("texel\n")),
            "There seems to be a problem with the tuning file. tuning not executed\n");
}

TEST_F(Texel, SharesAreContiguousAndTheLastTakesTheRest) {
  std::vector<std::pair<std::string, double>> all;
  for (int i = 0; i < 100; ++i) {
    all.push_back(SAMPLE[i % SAMPLE.size()]);
    tuner.data.push_back({all.back().first + " ", all.back().second});
  }
  testing::internal::CaptureStdout();
  startTuningThreads();
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(tuner.pool.size(), 24u);
  for (size_t i = 0; i < 24; ++i) {
    ASSERT_EQ(tuner.pool[i]->entries.size(), i < 23 ? 4u : 8u) << i;
    EXPECT_EQ(tuner.pool[i]->entries[0].fen, tuner.data[4 * i].fen) << i;
  }
  EXPECT_NEAR(meanError(), expectedError(all), 1e-12);
}

TEST_F(Texel, CommandReportsTheMeanSquaredError) {
  std::string text;
  for (auto& [fen, r] : SAMPLE)
    text += fen + " c9 " + (r == 1.0 ? "\"1-0\";" : r == 0.0 ? "\"0-1\";" : "\"1/2-1/2\";") + "\n";
  writeFile(text);
  std::ostringstream e;
  e << expectedError(SAMPLE);
  std::string run;
  for (int i = 0; i < 24; ++i) run += "Lets go\n";
  run += "Starting texel tuning....\nStarting error " + e.str() + "\n\n Improving: 1\nEnding error " + e.str() +
         " Minimum error " + e.str() + "\n";
  EXPECT_EQ(afterBanner(runEngineWith("texel\n")), run);
  // The second command appends the file again; the mean stays the same.
  EXPECT_EQ(afterBanner(runEngineWith("texel\ntexel\n")), run + run);
}

TEST(TexelDescent, KeepsEveryStepThatLowersTheError) {
  ensureTables();  // the tuner's report goes through the installed sink
  int x = 0, y = 0;
  std::vector<tuningParam> params = {{"x", &x}, {"y", &y}};
  testing::internal::CaptureStdout();
  minimiseError(params, [&] { return double((x - 3) * (x - 3) + (y + 2) * (y + 2)) + 1.0; });
  printParams(params);
  // Passes 1-3 improve something; pass 4 improves nothing and ends the descent.
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Starting error 14\n\n Improving: 1\n\n Improving: 2\n\n Improving: 3\n\n Improving: 4\n"
            "Ending error 1 Minimum error 1\nx = 3;\ny = -2;\n");
}
