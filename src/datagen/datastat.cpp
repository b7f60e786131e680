// "datastat": what a training data file holds, and "genfens": openings for
// a match runner, made as datagen makes them.

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <sys/stat.h>

#include "board/decimal.h"
#include "datagen/datagen.h"
#include "board/flags.h"
#include "format/record.h"
#include "datagen/selfplay.h"

namespace {

const char* const DATASTAT_HELP =
    "usage: dravlin datastat FILE [--fen N]\n"
    "Counts, filters and histograms of a training data file; --fen N prints its first N\n"
    "positions as 'FEN | score | result' (White's view: centipawns, 1 / 0.5 / 0).\n";

// A bar chart, one line a bucket.
struct histogram {
  std::vector<std::string> labels;
  std::vector<u64> counts;
  void add(std::size_t bucket) { counts[std::min(bucket, counts.size() - 1)]++; }
  std::string text(u64 total) const {
    const u64 most = counts.empty() ? 0 : *std::max_element(counts.begin(), counts.end());
    std::string out;
    char line[160];
    for (std::size_t i = 0; i < counts.size(); ++i) {
      if (counts[i] == 0) continue;
      const int bar = most ? int(50 * counts[i] / most) : 0;
      std::snprintf(line, sizeof line, "  %-14s %10llu %5.1f%% %s\n", labels[i].c_str(), (unsigned long long)counts[i],
                    total ? 100.0 * double(counts[i]) / double(total) : 0.0, std::string(std::size_t(bar), '#').c_str());
      out += line;
    }
    return out;
  }
};

// Scores from White's view in 200-centipawn steps, the tails and the decided ones apart.
histogram scoreHistogram() {
  histogram h;
  h.labels.push_back("decided < 0");
  h.labels.push_back("< -2000");
  for (int lo = -2000; lo < 2000; lo += 200) h.labels.push_back(std::to_string(lo) + ".." + std::to_string(lo + 199));
  h.labels.push_back(">= 2000");
  h.labels.push_back("decided > 0");
  h.counts.assign(h.labels.size(), 0);
  return h;
}
std::size_t scoreBucket(int score) {
  if (score <= -DECIDED_SCORE) return 0;
  if (score < -2000) return 1;
  if (score >= DECIDED_SCORE) return 23;
  if (score >= 2000) return 22;
  return std::size_t(2 + (score + 2000) / 200);
}

std::string percentOf(u64 part, u64 whole) {
  char text[24];
  std::snprintf(text, sizeof text, "%.1f%%", whole ? 100.0 * double(part) / double(whole) : 0.0);
  return text;
}

// The position's identity: placement with castling and en passant, and the side to move.
u64 positionHash(const dataRecord& r) {
  u64 h = 0x84222325CBF29CE4ull;
  auto mix = [&h](u64 v) {
    h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
    h *= 0x100000001B3ull;
  };
  for (int c = 0; c < 14; ++c) mix(r.pieceBB[c]);
  mix(r.castleRooks);
  mix(u64(r.epPawn + 1));
  mix(u64(r.sideToMove));
  return h;
}

std::string resultText(int resultWhite) { return resultWhite == 2 ? "1" : resultWhite == 1 ? "0.5" : "0"; }

}  // namespace

int datastatTool(const std::vector<std::string>& args, const textSink& out, const textSink& err) {
  std::string path;
  i64 fens = -1;
  flagReader r("datastat", args);
  while (!r.done()) {
    const std::string flag = r.flag();
    bool ok = true;
    if (flag == "--help" || flag == "-h") {
      out(DATASTAT_HELP);
      return 0;
    } else if (flag == "--fen") {
      ok = r.number(0, INT64_MAX, fens);
    } else if (!flag.empty() && flag[0] == '-') {
      ok = r.unknown();
    } else if (path.empty()) {
      path = flag;
    } else {
      err("datastat: one file at a time ('" + flag + "' is a second)\n");
      return 2;
    }
    if (!ok) {
      err(r.error() + "\n");
      return 2;
    }
  }
  if (path.empty()) {
    err("datastat: a FILE is needed (dravlin datastat --help)\n");
    return 2;
  }

  dataReader reader;
  if (!reader.open(path)) {
    err("datastat: " + reader.error() + "\n");
    return 1;
  }
  std::vector<dataRecord> game;
  if (fens >= 0) {
    i64 shown = 0;
    while (shown < fens && reader.nextGame(game))
      for (const dataRecord& rec : game) {
        if (shown++ >= fens) break;
        out(recordFen(rec) + " | " + std::to_string(rec.score) + " | " + resultText(rec.result) + "\n");
      }
    if (!reader.error().empty()) {
      err("datastat: " + reader.error() + "\n");
      return 1;
    }
    return 0;
  }

  u64 games = 0, positions = 0, results[3] = {0, 0, 0};
  u64 inCheck = 0, noisy = 0, decided = 0, anyFilter = 0;
  histogram scores = scoreHistogram(), men, plies;
  for (int n = 2; n <= 32; ++n) men.labels.push_back(std::to_string(n) + " men");
  men.counts.assign(men.labels.size(), 0);
  for (int p = 0; p < 400; p += 40) plies.labels.push_back("ply " + std::to_string(p) + ".." + std::to_string(p + 39));
  plies.labels.push_back("ply >= 400");
  plies.counts.assign(plies.labels.size(), 0);
  std::vector<u64> hashes;
  while (reader.nextGame(game)) {
    ++games;
    results[game.back().result]++;
    for (const dataRecord& rec : game) {
      ++positions;
      const unsigned f = recordFilters(rec);
      inCheck += (f & FILTER_IN_CHECK) != 0;
      noisy += (f & FILTER_NOISY_MOVE) != 0;
      decided += (f & FILTER_DECIDED_SCORE) != 0;
      anyFilter += f != 0;
      scores.add(scoreBucket(rec.score));
      men.add(std::size_t(std::max(0, popCount(rec.pieceBB[0] | rec.pieceBB[1]) - 2)));
      plies.add(std::size_t(std::max(0, 2 * (rec.fullMove - 1) + rec.sideToMove)) / 40);
      hashes.push_back(positionHash(rec));
    }
  }
  if (!reader.error().empty()) {
    err("datastat: " + reader.error() + "\n");
    return 1;
  }
  std::sort(hashes.begin(), hashes.end());
  u64 duplicates = 0;
  for (std::size_t i = 1; i < hashes.size(); ++i) duplicates += hashes[i] == hashes[i - 1];

  std::ostringstream s;
  s << path << ": " << games << " games, " << positions << " positions";
  if (games) s << " (" << positions / games << " a game)";
  s << ", " << reader.completeBytes() << " bytes\n";
  if (reader.tailBytes())
    s << "  " << reader.tailBytes() << " bytes after the last complete game (an unfinished game, or what a crash left), "
      << "left out\n";
  for (const std::string& note : reader.notes()) s << "  " << note << "\n";
  // The settings each part was made with (several when files were joined
  // or a run was continued with other flags).
  for (const dataReader::part& part : reader.parts()) {
    s << (reader.parts().size() > 1 ? "part at byte " + std::to_string(part.offset) + ", " : std::string())
      << "version " << part.version;
    if (reader.parts().size() > 1) s << ", " << part.games << " games, " << part.positions << " positions";
    s << ": " << (part.settings.empty() ? "no settings recorded" : settingsLine(part.settings)) << "\n";
  }
  s << "results, White's view: W " << results[2] << " (" << percentOf(results[2], games) << ")  D " << results[1] << " ("
    << percentOf(results[1], games) << ")  L " << results[0] << " (" << percentOf(results[0], games) << ")\n";
  s << "filters (a position may meet several):\n";
  s << "  in check                  " << inCheck << " (" << percentOf(inCheck, positions) << ")\n";
  s << "  capture or promotion      " << noisy << " (" << percentOf(noisy, positions) << ")\n";
  s << "  mate or tablebase score   " << decided << " (" << percentOf(decided, positions) << ")\n";
  s << "  any of them               " << anyFilter << " (" << percentOf(anyFilter, positions) << "), kept "
    << positions - anyFilter << "\n";
  s << "duplicate positions (same placement, rights and side as an earlier one): " << duplicates << " ("
    << percentOf(duplicates, positions) << ")\n";
  s << "score, White's view (centipawns):\n" << scores.text(positions);
  s << "men on the board:\n" << men.text(positions);
  s << "ply of the game:\n" << plies.text(positions);
  out(s.str());
  return 0;
}

bool genfens(const std::vector<std::string>& words, const nnue::network* net, const textSink& out,
             std::string& error) {
  i64 count = 0;
  if (words.empty() || !wholeNumber(words[0], 1, 100000000, count)) {
    error = "usage: genfens N seed S book <None|FILE> (N from 1 to 100000000)";
    return false;
  }
  genSettings s;
  s.net = net;
  openingBook book;
  for (std::size_t i = 1; i + 1 < words.size(); i += 2) {
    const std::string& key = words[i];
    const std::string& value = words[i + 1];
    if (key == "seed") {
      const decimalText d = readDecimal(value);
      if (!d.found || d.tooLong || d.negative || d.end != value.size()) {
        error = "seed takes a whole number from 0 to 18446744073709551615, not '" + value + "'";
        return false;
      }
      s.seed = d.magnitude;
    } else if (key == "book" && value != "None") {
      if (!book.load(value, error)) return false;
    }
  }
  gameSearcher searcher;
  gameBoard g;
  for (i64 k = 0; k < count; ++k) {
    splitMix rng = gameStream(s.seed, u64(k));
    searcher.newGame();
    u32 redraws = 0;
    if (!makeOpening(s, book, rng, searcher, g, redraws)) {
      error = "no playable opening from the book";
      return false;
    }
    out("info string genfens " + boardFen(*g.b, g.fullMove) + "\n");
  }
  return true;
}
