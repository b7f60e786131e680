#pragma once
// The trainer's one random source: splitmix64, whose whole state is one word
// that a checkpoint stores, and the same numbers on every machine.

#include "board/types.h"

namespace train {

struct splitMix {
  u64 state;
  u64 next() {
    u64 z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n) (multiply-shift; the bias is below 2^-32 for n < 2^32).
  u32 below(u32 n) { return u32(((next() >> 32) * n) >> 32); }
  // Uniform in [-1, 1).
  float symmetric() { return float(i64(next() >> 40) - (i64(1) << 23)) / float(1 << 23); }
};

// A well-mixed hash of one word, for choices fixed by a seed and an index.
inline u64 mixHash(u64 x) { return splitMix{x}.next(); }

}  // namespace train
