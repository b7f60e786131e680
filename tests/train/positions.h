#pragma once
// Training positions made in the test: random games from the start position,
// labelled with the hand-written evaluation.

#include <vector>

#include "eval/eval.h"
#include "movegen/makemove.h"
#include "movegen/movegen.h"
#include "testutil.h"
#include "train/random.h"
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
  train::splitMix rng{seed};
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
