#pragma once
// Start-up tables: step attacks, magic slider lookups, rays, line tables,
// passed-pawn masks and the Zobrist keys.

#include "board/types.h"

struct board;

struct magicEntry {
  u64* attacks;
  u64 mask;
  u64 magic;
  u64 shift;
};

extern u64 knightAttacks[64];
extern u64 kingAttacks[64];
extern u64 pawnAttackers[2][64];
extern u64 epNeighbours[64];
extern u64 orthogonalRays[64];
extern u64 diagonalRays[64];
extern magicEntry bishopMagics[64];
extern magicEntry rookMagics[64];
extern u64 between[64][64];
extern u64 lineThrough[64][64];
extern u64 passedMask[2][64];

// The Zobrist keys of a position's parts, fixed at start-up.
struct zobristKeys {
  u64 piece[14][64];  // by piece code and square; codes 0 and 1 are zero
  u64 castle[16];     // by the set of castling rights
  u64 ep[8];          // by the en-passant file
  u64 side;           // black to move
};
extern zobristKeys zobrist;

void initAttackTables();
void initKeys();

inline u64 bishopAttacks(int sq, u64 occ) {
  const magicEntry& e = bishopMagics[sq];
  return e.attacks[((occ & e.mask) * e.magic) >> e.shift];
}
inline u64 rookAttacks(int sq, u64 occ) {
  const magicEntry& e = rookMagics[sq];
  return e.attacks[((occ & e.mask) * e.magic) >> e.shift];
}
inline u64 queenAttacks(int sq, u64 occ) { return bishopAttacks(sq, occ) | rookAttacks(sq, occ); }

u64 computeHashKey(const board& b);
