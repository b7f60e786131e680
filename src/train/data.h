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
};

struct loadStats {
  u64 games = 0, validationGames = 0, records = 0;
  u64 inCheck = 0, noisy = 0, decided = 0;  // dropped, each by the first filter that applies
  std::vector<std::string> warnings;        // files that could not be read to their end
};

// Is game `index` (counted over all files in order from 0) a validation game?
bool isValidationGame(u64 index, double fraction, u64 seed);

// Reads the files in order into the two sets. A file that cannot be opened
// is an error (false, `error` says which); a bad record ends that file's
// reading with a warning, keeping the games before it.
bool loadTrainingData(const std::vector<std::string>& files, const loadOptions& options, std::vector<sample>& training,
                      std::vector<sample>& validation, loadStats& stats, std::string& error);

}  // namespace train
