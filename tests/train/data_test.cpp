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

// Scores and results are White's in the file and the side to move's in a
// sample: a game White won and one Black won, each with a position of either
// side to move.
TEST(TrainData, LabelsTurnToTheSideToMove) {
  const std::string path = testing::TempDir() + "train_labels_test.bin";
  testBoard white;
  testBoard black("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1");
  std::vector<u8> bytes(DATA_HEADER_BYTES);
  writeDataHeader(bytes.data());
  // A pawn's two-square step from `from`.
  auto add = [&](board& b, int from, int scoreWhite, int resultWhite, bool last) {
    chessMove m = 0;
    generateLegal(0, b.plies[0].listStart, b);
    for (const chessMove* c = b.plies[0].listStart; c != b.plies[0].listEnd; ++c)
      if ((moveFrom(*c) & 63) == from && std::abs((moveTo(*c) & 63) - from) == 16) m = *c;
    ASSERT_NE(m, 0u) << from;
    bytes.resize(bytes.size() + RECORD_BYTES);
    packRecord(b, 1, scoreWhite, toRecordMove(m, b), resultWhite, last, &bytes[bytes.size() - RECORD_BYTES]);
  };
  add(*white, 12, 300, RESULT_WHITE_WINS, false);  // e2e4
  add(*black, 52, 300, RESULT_WHITE_WINS, true);   // e7e5
  add(*white, 11, -120, RESULT_BLACK_WINS, false);  // d2d4
  add(*black, 51, -120, RESULT_BLACK_WINS, true);   // d7d5
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);

  loadOptions all;
  all.dropInCheck = all.dropNoisy = all.dropDecided = false;
  all.validationFraction = 0;
  std::vector<sample> training, validation;
  loadStats stats;
  std::string error;
  ASSERT_TRUE(loadTrainingData({path}, all, training, validation, stats, error)) << error;
  ASSERT_EQ(training.size(), 4u);
  const int expected[4][3] = {{0, 300, 2}, {1, -300, 0}, {0, -120, 0}, {1, 120, 2}};  // stm, score, result
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(training[i].stm, expected[i][0]) << i;
    EXPECT_EQ(training[i].score, expected[i][1]) << i;
    EXPECT_EQ(training[i].result, expected[i][2]) << i;
  }
  std::remove(path.c_str());
}

// A file joined to itself is read whole; a damaged record stops the load
// with the file, byte and game named, unless damage is to be skipped.
TEST(TrainData, JoinedFilesReadWholeAndDamageStopsTheLoad) {
  const std::string path = testing::TempDir() + "train_damage_test.bin";
  writeRandomGameFile(path, 20, 3, [](int) { return false; });
  std::vector<u8> bytes;
  {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    for (int c; (c = std::fgetc(f)) != EOF;) bytes.push_back(u8(c));
    std::fclose(f);
  }
  auto load = [&](const std::vector<u8>& content, bool skip, loadStats& stats, std::string& error) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
    loadOptions o;
    o.skipDamaged = skip;
    std::vector<sample> training, validation;
    return loadTrainingData({path}, o, training, validation, stats, error);
  };
  std::vector<u8> joined = bytes;
  joined.insert(joined.end(), bytes.begin(), bytes.end());
  loadStats stats;
  std::string error;
  ASSERT_TRUE(load(joined, false, stats, error)) << error;
  EXPECT_EQ(stats.games, 40u);

  std::vector<u8> damaged = bytes;
  const std::size_t at = DATA_HEADER_BYTES + (bytes.size() / RECORD_BYTES / 2) * RECORD_BYTES;
  damaged[at + 8] = 0xFF;
  loadStats stopped;
  EXPECT_FALSE(load(damaged, false, stopped, error));
  EXPECT_EQ(error.rfind(path + ": byte " + std::to_string(at) + ": game ", 0), 0u) << error;
  EXPECT_NE(error.find("piece code 15"), std::string::npos) << error;
  loadStats skipped;
  ASSERT_TRUE(load(damaged, true, skipped, error)) << error;
  EXPECT_EQ(skipped.games, 19u);
  EXPECT_EQ(skipped.skippedGames, 1u);
  std::remove(path.c_str());
}

// Files of both versions train together (a version-1 file and the same
// games behind a version-2 header with settings); a file of other records
// is refused with its name and the reason, before anything is trained.
TEST(TrainData, VersionsMixAndOtherRecordsAreRefused) {
  const std::string v1 = testing::TempDir() + "train_v1.bin", v2 = testing::TempDir() + "train_v2.bin",
                    wide = testing::TempDir() + "train_wide.bin";
  writeRandomGameFile(v1, 12, 5, [](int) { return false; });
  std::vector<u8> bytes;
  {
    std::FILE* f = std::fopen(v1.c_str(), "rb");
    for (int c; (c = std::fgetc(f)) != EOF;) bytes.push_back(u8(c));
    std::fclose(f);
  }
  auto write = [](const std::string& path, const std::vector<u8>& header, const std::vector<u8>& all) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(header.data(), 1, header.size(), f);
    std::fwrite(all.data() + DATA_HEADER_BYTES, 1, all.size() - DATA_HEADER_BYTES, f);
    std::fclose(f);
  };
  write(v2, dataHeader({{"tool", "datagen"}, {"seed", "2"}}), bytes);
  std::vector<u8> otherSize(bytes.begin(), bytes.begin() + DATA_HEADER_BYTES);
  otherSize[12] = 40;
  write(wide, otherSize, bytes);

  loadOptions o;
  std::vector<sample> training, validation;
  loadStats stats;
  std::string error;
  ASSERT_TRUE(loadTrainingData({v1, v2}, o, training, validation, stats, error)) << error;
  EXPECT_EQ(stats.games, 24u);
  loadStats refused;
  EXPECT_FALSE(loadTrainingData({v1, wide}, o, training, validation, refused, error));
  EXPECT_EQ(error.rfind(wide + ": byte 0: record size 40, expected 32", 0), 0u) << error;
  for (const std::string& p : {v1, v2, wide}) std::remove(p.c_str());
}

// A tighter opening bound after the fact: the games whose first position
// scores beyond it are left out whole, and the others keep their side of
// the validation split.
TEST(TrainData, OpeningBoundLeavesOutWholeGames) {
  const std::string path = testing::TempDir() + "train_opening_test.bin";
  // Game g's score is g + 1 (White's view) at every position.
  writeRandomGameFile(path, 40, 6, [](int) { return false; });
  loadOptions all;
  all.dropInCheck = all.dropNoisy = all.dropDecided = false;
  all.validationFraction = 0.25;
  std::vector<sample> training, validation, boundTraining, boundValidation;
  loadStats stats, bound;
  std::string error;
  ASSERT_TRUE(loadTrainingData({path}, all, training, validation, stats, error)) << error;
  all.maxOpeningScore = 20;
  ASSERT_TRUE(loadTrainingData({path}, all, boundTraining, boundValidation, bound, error)) << error;
  EXPECT_EQ(bound.openingGames, 20u);
  auto kept = [](const std::vector<sample>& set) {
    std::vector<sample> out;
    for (const sample& s : set)
      if (std::abs(s.score) <= 20) out.push_back(s);
    return out;
  };
  EXPECT_EQ(boundTraining.size(), kept(training).size());
  EXPECT_EQ(boundValidation.size(), kept(validation).size());
  for (const sample& s : boundTraining) EXPECT_LE(std::abs(s.score), 20);
  std::remove(path.c_str());
}
