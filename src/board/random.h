#pragma once
// The one random source of the data tools and the trainer: splitmix64, whose
// whole state is one word (a checkpoint stores it), with the same numbers on
// every machine, so a seed fixes a game or a training run everywhere.

#include "board/types.h"

struct splitMix {
  u64 state;
  explicit splitMix(u64 seed = 0) : state(seed) {}
  u64 next() {
    u64 z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n), n > 0 (multiply-shift).
  u64 below(u64 n) { return u64((unsigned __int128)next() * n >> 64); }
  // Uniform in [-1, 1).
  float symmetric() { return float(i64(next() >> 40) - (i64(1) << 23)) / float(1 << 23); }
};

// A well-mixed hash of one word, for choices fixed by a seed and an index.
inline u64 mixHash(u64 x) { return splitMix{x}.next(); }
