#include "train/data.h"

#include <cstdlib>
#include <filesystem>

#include "board/random.h"
#include "format/record.h"

namespace train {

bool isValidationGame(u64 index, double fraction, u64 seed) {
  const u64 h = mixHash(mixHash(seed) ^ index);
  return double(h >> 11) * 0x1.0p-53 < fraction;
}

bool loadTrainingData(const std::vector<std::string>& files, const loadOptions& options, std::vector<sample>& training,
                      std::vector<sample>& validation, loadStats& stats, std::string& error) {
  // Room for every record up front: a growing vector of a few GB would
  // briefly need half as much again.
  u64 records = 0;
  for (const std::string& path : files) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (!ec && size > u64(DATA_HEADER_BYTES)) records += (size - DATA_HEADER_BYTES) / RECORD_BYTES;
  }
  if (options.maxPositions) records = std::min(records, options.maxPositions);
  training.reserve(training.size() + std::size_t(double(records) * (1.0 - options.validationFraction) * 1.02));

  std::vector<dataRecord> game;
  u64 kept = 0;
  for (const std::string& path : files) {
    dataReader reader;
    reader.skipDamaged(options.skipDamaged);
    if (!reader.open(path)) {
      error = reader.error();
      return false;
    }
    while (reader.nextGame(game)) {
      // Counted before any game is left out, so the split stays the same.
      const bool held = isValidationGame(stats.games++, options.validationFraction, options.validationSeed);
      if (options.maxOpeningScore > 0 && std::abs(game.front().score) > options.maxOpeningScore) {
        ++stats.openingGames;
        continue;
      }
      stats.validationGames += held;
      std::vector<sample>& into = held ? validation : training;
      for (const dataRecord& r : game) {
        ++stats.records;
        const unsigned why = recordFilters(r);
        if (options.dropInCheck && (why & FILTER_IN_CHECK)) {
          ++stats.inCheck;
          continue;
        }
        if (options.dropNoisy && (why & FILTER_NOISY_MOVE)) {
          ++stats.noisy;
          continue;
        }
        if (options.dropDecided && (why & FILTER_DECIDED_SCORE)) {
          ++stats.decided;
          continue;
        }
        sample s;
        // A decided score kept on purpose still fits: sigmoid saturates.
        if (!packSample(r.pieceOn, r.sideToMove, scoreForMover(r), resultForMover(r), s)) continue;
        into.push_back(s);
        ++kept;
      }
      if (options.maxPositions && kept >= options.maxPositions) return true;
    }
    // Damage stops the run: a net trained on part of the data, with a zero
    // exit, would pass for one trained on all of it.
    if (!reader.error().empty()) {
      error = reader.error() + " (--skip-damaged reads on past it)";
      return false;
    }
    for (const std::string& note : reader.notes()) stats.notes.push_back(note);
    if (reader.tailBytes())
      stats.notes.push_back(path + ": " + std::to_string(reader.tailBytes()) +
                            " bytes after the last complete game (an unfinished game) left out");
    stats.skippedGames += reader.skippedGames();
    stats.skippedBytes += reader.skippedBytes();
  }
  return true;
}

}  // namespace train
