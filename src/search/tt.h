#pragma once
// The shared transposition table: 64-byte buckets of BUCKET_ENTRIES one-word
// entries and as many 16-bit check keys. Shared by every search thread
// without locks; the words are relaxed atomics (plain moves on x86-64).

#include <atomic>
#include <string>

#include "board/types.h"

using hashEntry = u64;

enum : u8 { BOUND_NONE = 0, BOUND_UPPER = 1, BOUND_LOWER = 2, BOUND_EXACT = 3 };

// One entry word, from the low bits up: the move (32 bits), the score (16),
// the depth (8, signed), the bound (2) and the generation of the search that
// last stored or found it (6).
constexpr int ENTRY_SCORE_SHIFT = 32;
constexpr int ENTRY_DEPTH_SHIFT = 48;
constexpr int ENTRY_FLAGS_SHIFT = 56;  // the flags byte: generation * 4 + bound
constexpr int ENTRY_GENERATION_SHIFT = 58;
constexpr u64 ENTRY_MOVE_MASK = 0xFFFFFFFFu;
constexpr u64 ENTRY_BELOW_FLAGS = (u64(1) << ENTRY_FLAGS_SHIFT) - 1;
constexpr u8 BOUND_MASK = 3;
constexpr int GENERATIONS = 64;  // generations wrap around in their six bits
constexpr int ENTRY_MAX_DEPTH = 127;
constexpr int ENTRY_MIN_DEPTH = -128;
// The check key is the top 16 bits of the position key; the bucket index
// comes from the low bits, so the two never overlap (see MAX_MEGABYTES).
constexpr int CHECK_SHIFT = 48;

constexpr int BUCKET_ENTRIES = 6;
// Replacement: one search of age costs as much as this much depth.
constexpr int AGE_DEPTH_COST = 4;

struct alignas(64) hashBucket {
  std::atomic<u64> entries[BUCKET_ENTRIES];
  std::atomic<u16> checks[BUCKET_ENTRIES];
};
static_assert(sizeof(hashBucket) == 64);

inline chessMove entryMove(hashEntry e) { return chessMove(e & ENTRY_MOVE_MASK); }
inline i16 entryScore(hashEntry e) { return i16(u16(e >> ENTRY_SCORE_SHIFT)); }
inline int entryDepth(hashEntry e) { return i8(u8(e >> ENTRY_DEPTH_SHIFT)); }
inline u8 entryBound(hashEntry e) { return u8((e >> ENTRY_FLAGS_SHIFT) & BOUND_MASK); }
inline u8 entryGeneration(hashEntry e) { return u8(e >> ENTRY_GENERATION_SHIFT); }
inline u8 entryFlags(u8 generation, u8 bound) { return u8(generation * 4 + (bound & BOUND_MASK)); }

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

// What a resize got. When the size was refused the table keeps (or falls
// back to) the size that megabytes() reports, and `refusal` is the
// "info string" line that says so, for the caller to print.
struct hashResizeResult {
  bool granted = true;
  std::string refusal;
};

class transpositionTable {
 public:
  transpositionTable();

  // A table that has to be cleared is cleared on `threads` threads.
  hashResizeResult resize(i32 megabytes, int threads);
  // Zeroes the table on `threads` threads (at least one) and restarts the
  // generations.
  void clear(int threads);
  // Gives the memory back; the table falls back to its static megabyte.
  void release();
  i32 megabytes() const;
  u64 bucketCount() const { return mask_ + 1; }
  // Every search stores under a new generation, which ages older entries.
  void newSearch() {
    generation_ = u8(searchCount_ % GENERATIONS);
    ++searchCount_;
  }
  u8 generation() const { return generation_; }

  hashEntry probe(u64 key);
  void store(u64 key, chessMove move, i16 score, int depth, u8 bound);
  void prefetch(u64 key) const { __builtin_prefetch(&buckets_[key & mask_], 0, 3); }

 private:
  void unmap();
  void use(hashBucket* table, u64 megabytes, int threads);
  void zero(u64 first, u64 count);

  hashBucket* buckets_;
  u64 mask_;
  u8 generation_ = 0;
  u32 searchCount_ = 0;
  bool mapped_ = false;  // buckets_ points at a mapping of bytes_
  u64 bytes_ = 0;
};

// The one table all search threads share.
extern transpositionTable hashTable;

inline hashEntry transpositionTable::probe(u64 key) {
  hashBucket& bucket = buckets_[key & mask_];
  const u16 check = u16(key >> CHECK_SHIFT);
  for (int i = 0; i < BUCKET_ENTRIES; ++i) {
    if (bucket.checks[i].load(std::memory_order_relaxed) != check) continue;
    hashEntry e = bucket.entries[i].load(std::memory_order_relaxed);
    if (entryBound(e) != BOUND_NONE && entryGeneration(e) != generation_) {
      // Mark the entry as used by this search; written only when it changes,
      // so hits inside one search do not keep rewriting shared lines.
      e = (e & ENTRY_BELOW_FLAGS) | (u64(entryFlags(generation_, entryBound(e))) << ENTRY_FLAGS_SHIFT);
      bucket.entries[i].store(e, std::memory_order_relaxed);
    }
    return e;
  }
  return 0;
}

// Replacement: the entry of the same position, else an empty slot, else the
// entry worth least (shallow, not exact, old); the earlier slot among equals.
inline void transpositionTable::store(u64 key, chessMove move, i16 score, int depth, u8 bound) {
  if (depth > ENTRY_MAX_DEPTH) depth = ENTRY_MAX_DEPTH;
  if (depth < ENTRY_MIN_DEPTH) depth = ENTRY_MIN_DEPTH;
  hashBucket& bucket = buckets_[key & mask_];
  const u16 check = u16(key >> CHECK_SHIFT);
  const hashEntry entry = u64(move) | (u64(u16(score)) << ENTRY_SCORE_SHIFT) |
                          (u64(u8(i8(depth))) << ENTRY_DEPTH_SHIFT) |
                          (u64(entryFlags(generation_, bound)) << ENTRY_FLAGS_SHIFT);
  int slot = -1;
  int lowestWorth = 32768;
  int lowestSlot = 0;
  for (int i = 0; i < BUCKET_ENTRIES; ++i) {
    u16 c = bucket.checks[i].load(std::memory_order_relaxed);
    hashEntry e = bucket.entries[i].load(std::memory_order_relaxed);
    if (c == check || (c == 0 && (e >> ENTRY_FLAGS_SHIFT) == 0)) {
      slot = i;
      break;
    }
    int worth = entryDepth(e) + (entryBound(e) == BOUND_EXACT ? 1 : 0) -
                AGE_DEPTH_COST * ((generation_ - entryGeneration(e)) & (GENERATIONS - 1));
    if (worth < lowestWorth) {
      lowestWorth = worth;
      lowestSlot = i;
    }
  }
  if (slot < 0) slot = lowestSlot;
  bucket.entries[slot].store(entry, std::memory_order_relaxed);
  bucket.checks[slot].store(check, std::memory_order_relaxed);
}
