#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "train/data.h"
#include "train/positions.h"

using namespace train;

// Games go whole to training or to validation, as the seeded choice says;
// the filters drop what they name, and each can be switched off.
TEST(TrainData, HoldsBackWholeGamesAndFilters) {
  const std::string path = testing::TempDir() + "train_data_test.bin";
  auto mated = [](int g) { return g % 7 == 3; };
  writeRandomGameFile(path, 60, 8, mated);

  loadOptions keepAll;
  keepAll.dropInCheck = keepAll.dropNoisy = keepAll.dropDecided = false;
  keepAll.validationFraction = 0.3;
  keepAll.validationSeed = 4;
  std::vector<sample> training, validation;
  loadStats stats;
  std::string error;
  ASSERT_TRUE(loadTrainingData({path}, keepAll, training, validation, stats, error)) << error;
  EXPECT_EQ(stats.games, 60u);
  EXPECT_EQ(training.size() + validation.size(), stats.records);
  // The game of a position, from its score: g + 1, or a mate for some.
  auto gameOf = [](const sample& s) { return std::abs(s.score) > 30000 ? -1 : std::abs(s.score) - 1; };
  std::set<int> held;
  for (const sample& s : validation) {
    if (gameOf(s) < 0) continue;
    held.insert(gameOf(s));
    EXPECT_TRUE(isValidationGame(u64(gameOf(s)), 0.3, 4));
  }
  for (const sample& s : training) {
    if (gameOf(s) >= 0) {
      EXPECT_EQ(held.count(gameOf(s)), 0u) << "game " << gameOf(s) << " is on both sides";
    }
  }
  EXPECT_GE(held.size(), 8u);
  EXPECT_LE(held.size(), 28u);

  std::vector<sample> filteredTraining, filteredValidation;
  loadOptions defaults;
  defaults.validationFraction = 0.3;
  defaults.validationSeed = 4;
  loadStats filtered;
  ASSERT_TRUE(loadTrainingData({path}, defaults, filteredTraining, filteredValidation, filtered, error)) << error;
  EXPECT_GT(filtered.inCheck, 0u);
  EXPECT_GT(filtered.noisy, 0u);
  EXPECT_GT(filtered.decided, 0u);
  EXPECT_EQ(filteredTraining.size() + filteredValidation.size() + filtered.inCheck + filtered.noisy + filtered.decided,
            stats.records);
  testBoard tb;
  for (const auto* set : {&filteredTraining, &filteredValidation})
    for (const sample& s : *set) {
      ASSERT_GE(gameOf(s), 0) << "a mate score kept";
      ASSERT_TRUE(setFromFen(sampleFen(s), *tb));
      ASSERT_FALSE(kingAttacked(*tb, tb->sideToMove)) << "in check: " << sampleFen(s);
    }
  std::remove(path.c_str());
}
