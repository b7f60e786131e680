#pragma once
// The trainer's input: data files read game by game, the filters applied,
// and whole games held back for validation.

#include <string>
#include <vector>

#include "train/sample.h"

namespace train {

struct loadOptions {
  // Drop positions in check, whose move played captures or promotes, and
  // whose score is a mate or a tablebase result.
  bool dropInCheck = true, dropNoisy = true, dropDecided = true;
  double validationFraction = 0.05;  // of the games
  u64 validationSeed = 1;
  u64 maxPositions = 0;  // stop after this many kept positions (0: all)
  // Leave out whole games whose first position's score is beyond this
  // (0: none left out): a tighter opening bound chosen after the data were
  // made, as far as the game's first search tells it.
  int maxOpeningScore = 0;
  // A damaged record ends the load with an error unless this is set; then
  // the reader skips to the next game and the loss is counted.
  bool skipDamaged = false;
};

struct loadStats {
  u64 games = 0, validationGames = 0, records = 0;
  u64 inCheck = 0, noisy = 0, decided = 0;  // dropped, each by the first filter that applies
  u64 openingGames = 0;                     // games left out by maxOpeningScore
  u64 skippedGames = 0, skippedBytes = 0;   // damage passed over under skipDamaged
  std::vector<std::string> notes;           // one line each: unfinished tails left out, damage skipped
};

// Is game `index` (counted over all files in order from 0) a validation game?
bool isValidationGame(u64 index, double fraction, u64 seed);

// Reads the files in order into the two sets. A file that cannot be opened
// or a damaged record is an error (false, `error` names the file, the byte,
// the game and the fault), unless skipDamaged.
bool loadTrainingData(const std::vector<std::string>& files, const loadOptions& options, std::vector<sample>& training,
                      std::vector<sample>& validation, loadStats& stats, std::string& error);

}  // namespace train
