#pragma once
// The shared transposition table: 64-byte buckets of six one-word entries and
// six 16-bit check keys. Shared by every search thread without locks; the
// words are relaxed atomics (plain moves on x86-64).

#include <atomic>
#include <string>

#include "board/types.h"

using hashEntry = u64;

enum : u8 { BOUND_NONE = 0, BOUND_UPPER = 1, BOUND_LOWER = 2, BOUND_EXACT = 3 };

struct alignas(64) hashBucket {
  std::atomic<u64> entries[6];
  std::atomic<u16> checks[6];
};
static_assert(sizeof(hashBucket) == 64);

extern hashBucket* hashTable;
extern u64 hashMask;
extern u8 hashGeneration;
extern u32 searchCount;

// What a resize got. When the size was refused the table keeps (or falls
// back to) the size that hashSizeMegabytes() reports, and `refusal` is the
// "info string" line that says so, for the caller to print.
struct hashResizeResult {
  bool granted = true;
  std::string refusal;
};
// A table that has to be cleared is cleared on `threads` threads.
hashResizeResult hashResize(i32 megabytes, int threads);
i32 hashSizeMegabytes();
// Zeroes the table on `threads` threads (at least one).
void hashClear(int threads);
void hashRelease();
void newSearchGeneration();
hashEntry hashProbe(u64 key);
void hashStore(u64 key, chessMove move, i16 score, int depth, u8 bound);

inline chessMove entryMove(hashEntry e) { return chessMove(e & 0xFFFFFFFFu); }
inline i16 entryScore(hashEntry e) { return i16(u16(e >> 32)); }
inline int entryDepth(hashEntry e) { return i8(u8(e >> 48)); }
inline u8 entryBound(hashEntry e) { return u8((e >> 56) & 3); }
inline u8 entryGeneration(hashEntry e) { return u8(e >> 58); }

// Mate-band scores are held relative to the node that stores them.
inline i16 scoreToTable(int score, int ply) {
  if (score >= MATE_BAND) return i16(score + ply);
  if (score <= -MATE_BAND) return i16(score - ply);
  return i16(score);
}
inline i16 scoreFromTable(int score, int ply) {
  if (score >= MATE_BAND) return i16(score - ply);
  if (score <= -MATE_BAND) return i16(score + ply);
  return i16(score);
}

inline void hashPrefetch(u64 key) {
  __builtin_prefetch(&hashTable[key & hashMask], 0, 3);
}
