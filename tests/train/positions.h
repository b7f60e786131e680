#pragma once
// Training positions made in the test: random games from the start position,
// labelled with the hand-written evaluation, in memory or as a data file.

#include <cstdio>
#include <string>
#include <vector>

#include "format/record.h"
#include "eval/eval.h"
#include "movegen/makemove.h"
#include "movegen/movegen.h"
#include "testutil.h"
#include "board/random.h"
#include "train/sample.h"

struct positionChoice {
  int side = -1;               // WHITE or BLACK: only positions with that side to move
  bool equalMaterial = false;  // only positions where both sides have the same material
};

// Every position from the fourth ply of each random game (8 to 97 plies),
// with the evaluation (side to move's view) as its score and a made-up result.
inline std::vector<train::sample> randomGamePositions(int games, u64 seed, positionChoice choice = {}) {
  testBoard tb;
  board& b = *tb;
  const board start = b;
  splitMix rng{seed};
  std::vector<train::sample> out;
  for (int g = 0; g < games; ++g) {
    b = start;
    const int length = 8 + int(rng.below(90));
    for (int ply = 0; ply < length; ++ply) {
      chessMove* first = b.plies[ply].listStart;
      generateLegal(u8(ply), first, b);
      const int count = int(b.plies[ply].listEnd - first);
      if (count == 0) break;
      makeMove(b, u8(ply), first[rng.below(u32(count))]);
      const int result = int(rng.below(3));
      if (ply < 3 || (choice.side >= 0 && b.sideToMove != choice.side)) continue;
      if (choice.equalMaterial && b.material[WHITE] != b.material[BLACK]) continue;
      train::sample s;
      if (train::packSample(b, evaluate(b), result, s)) out.push_back(s);
    }
  }
  return out;
}

// A data file of `games` random games (8 to 97 plies each), every position
// with the move played; the score (White's view) of game g is g + 1, or a
// mate score for every game that `mated` picks, so that a position's game
// can be told from its score.
template <class Mated>
inline void writeRandomGameFile(const std::string& path, int games, u64 seed, Mated mated) {
  testBoard tb;
  board& b = *tb;
  const board start = b;
  splitMix rng{seed};
  std::FILE* f = std::fopen(path.c_str(), "wb");
  u8 header[DATA_HEADER_BYTES];
  writeDataHeader(header);
  std::fwrite(header, 1, sizeof header, f);
  std::vector<u8> records;
  for (int g = 0; g < games; ++g) {
    b = start;
    records.clear();
    const int length = 8 + int(rng.below(90));
    const int score = mated(g) ? MATE_SCORE - 3 : g + 1;
    for (int ply = 0; ply < length; ++ply) {
      chessMove* first = b.plies[0].listStart;
      generateLegal(0, first, b);
      const int count = int(b.plies[0].listEnd - first);
      if (count == 0) break;
      const chessMove m = first[rng.below(u32(count))];
      records.resize(records.size() + RECORD_BYTES);
      packRecord(b, 1 + ply / 2, score, toRecordMove(m, b), RESULT_DRAW, false, &records[records.size() - RECORD_BYTES]);
      trimKeyHistory(b, 1);
      makeMove(b, 0, m);
      b.plies[0].castleRights = b.plies[1].castleRights;
      b.plies[0].epSquare = b.plies[1].epSquare;
    }
    records.back() |= LAST_OF_GAME;
    std::fwrite(records.data(), 1, records.size(), f);
  }
  std::fclose(f);
}
