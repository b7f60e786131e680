#include "board/attacks.h"

#include <cstdlib>
#include <random>
#include <system_error>
#include <thread>

#include "board/board.h"

u64 knightAttacks[64];
u64 kingAttacks[64];
u64 pawnAttackers[2][64];
u64 epNeighbours[64];
u64 orthogonalRays[64];
u64 diagonalRays[64];
magicEntry bishopMagics[64];
magicEntry rookMagics[64];
u64 between[64][64];
u64 lineThrough[64][64];
u64 passedMask[2][64];

zobristKeys zobrist;

namespace {

u64 rookTable[102400];
u64 bishopTable[5248];

const u64 zobristSource[793] = {
#include "board/zobrist_keys.inc"
};

// The magic search runs on two threads, each with its own generator and stamp
// array. The generators are unseeded on purpose: the magics of every start-up
// run are the same, and a later rebuild ("texel") continues the sequences.
struct magicSearcher {
  std::mt19937_64 rng;
  // Stamp of the attempt that last wrote each index; never cleared, the
  // attempt number keeps counting across squares and piece kinds.
  u32 stamps[4096] = {};
  u32 attemptNumber = 0;
  u64 subsets[4096];
  u64 attackSets[4096];
};
magicSearcher searchers[2];

int chebyshev(int a, int b) {
  int df = std::abs((a & 7) - (b & 7));
  int dr = std::abs((a >> 3) - (b >> 3));
  return df > dr ? df : dr;
}

constexpr int ROOK_DIRS[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
constexpr int BISHOP_DIRS[4][2] = {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}};

// Slider attacks by stepping; `occ` blocks, the blocker itself is included.
u64 slideAttacks(int sq, u64 occ, const int dirs[4][2]) {
  u64 result = 0;
  for (int d = 0; d < 4; ++d) {
    int f = (sq & 7) + dirs[d][0], r = (sq >> 3) + dirs[d][1];
    while (f >= 0 && f < 8 && r >= 0 && r < 8) {
      int s = r * 8 + f;
      result |= bit(s);
      if (occ & bit(s)) break;
      f += dirs[d][0];
      r += dirs[d][1];
    }
  }
  return result;
}

// Relevant occupancy: the rays without their last (edge) square.
u64 relevantMask(int sq, const int dirs[4][2]) {
  u64 result = 0;
  for (int d = 0; d < 4; ++d) {
    int f = (sq & 7) + dirs[d][0], r = (sq >> 3) + dirs[d][1];
    while (f + dirs[d][0] >= 0 && f + dirs[d][0] < 8 && r + dirs[d][1] >= 0 && r + dirs[d][1] < 8) {
      result |= bit(r * 8 + f);
      f += dirs[d][0];
      r += dirs[d][1];
    }
  }
  return result;
}

u64 drawCandidate(magicSearcher& ms) {
  u64 c = 0;
  int n = 0;
  while (n < 9) {
    u64 b = bit(int(ms.rng() & 63));
    if (!(c & b)) {
      c |= b;
      ++n;
    }
  }
  return c;
}

void findMagic(magicSearcher& ms, magicEntry& e, int sq, const int dirs[4][2]) {
  int count = 0;
  u64 sub = 0;
  do {
    ms.subsets[count] = sub;
    ms.attackSets[count] = slideAttacks(sq, sub, dirs);
    ++count;
    sub = (sub - e.mask) & e.mask;
  } while (sub != 0);
  for (;;) {
    u64 candidate = drawCandidate(ms);
    ++ms.attemptNumber;
    bool ok = true;
    for (int i = 0; i < count; ++i) {
      u32 index = u32(((ms.subsets[i] * candidate) >> e.shift) & 0xFFFF);
      if (ms.stamps[index] < ms.attemptNumber) {
        ms.stamps[index] = ms.attemptNumber;
        e.attacks[index] = ms.attackSets[i];
      } else if (e.attacks[index] != ms.attackSets[i]) {
        ok = false;
        break;
      }
    }
    if (ok) {
      e.magic = candidate;
      return;
    }
  }
}

// Square ranges per searcher: the corner-heavy rook squares dominate, so the
// second searcher takes the upper rook squares and all bishop squares.
constexpr int ROOK_SPLIT = 32;

void searchRange(int who) {
  magicSearcher& ms = searchers[who];
  if (who == 0) {
    for (int sq = 0; sq < ROOK_SPLIT; ++sq) findMagic(ms, rookMagics[sq], sq, ROOK_DIRS);
  } else {
    for (int sq = ROOK_SPLIT; sq < 64; ++sq) findMagic(ms, rookMagics[sq], sq, ROOK_DIRS);
    for (int sq = 0; sq < 64; ++sq) findMagic(ms, bishopMagics[sq], sq, BISHOP_DIRS);
  }
}

}  // namespace

void initAttackTables() {
  static const int knightSteps[8] = {17, 15, 10, 6, -6, -10, -15, -17};
  static const int kingSteps[8] = {9, 8, 7, 1, -1, -7, -8, -9};
  for (int s = 0; s < 64; ++s) {
    knightAttacks[s] = kingAttacks[s] = 0;
    for (int k = 0; k < 8; ++k) {
      int t = s + knightSteps[k];
      if (t >= 0 && t < 64 && chebyshev(s, t) < 3) knightAttacks[s] |= bit(t);
      t = s + kingSteps[k];
      if (t >= 0 && t < 64 && chebyshev(s, t) < 2) kingAttacks[s] |= bit(t);
    }
  }

  for (int s = 0; s < 64; ++s) {
    epNeighbours[s] = 0;
    if (s >= 24 && s <= 39) {
      if ((s & 7) != 0) epNeighbours[s] |= bit(s - 1);
      if ((s & 7) != 7) epNeighbours[s] |= bit(s + 1);
    }
  }
  for (int s = 0; s < 64; ++s) {
    pawnAttackers[WHITE][s] = pawnAttackers[BLACK][s] = 0;
    int rank = s >> 3, file = s & 7;
    if (rank >= 2) {  // a white pawn attacks from rank 3 up
      if (file != 7) pawnAttackers[WHITE][s] |= bit(s - 7);
      if (file != 0) pawnAttackers[WHITE][s] |= bit(s - 9);
    }
    if (rank <= 5) {
      if (file != 0) pawnAttackers[BLACK][s] |= bit(s + 7);
      if (file != 7) pawnAttackers[BLACK][s] |= bit(s + 9);
    }
  }

  for (int s = 0; s < 64; ++s) {
    orthogonalRays[s] = slideAttacks(s, 0, ROOK_DIRS);
    diagonalRays[s] = slideAttacks(s, 0, BISHOP_DIRS);
  }

  for (int s = 0; s < 64; ++s) {
    rookMagics[s].mask = relevantMask(s, ROOK_DIRS);
    rookMagics[s].shift = 64 - popCount(rookMagics[s].mask);
    bishopMagics[s].mask = relevantMask(s, BISHOP_DIRS);
    bishopMagics[s].shift = 64 - popCount(bishopMagics[s].mask);
  }
  u64* next = rookTable;
  for (int s = 0; s < 64; ++s) {
    rookMagics[s].attacks = next;
    next += u64(1) << (64 - rookMagics[s].shift);
  }
  next = bishopTable;
  for (int s = 0; s < 64; ++s) {
    bishopMagics[s].attacks = next;
    next += u64(1) << (64 - bishopMagics[s].shift);
  }
  // Half the magic search on a helper thread; when the system refuses one,
  // both halves run here (the result is the same, only slower).
  std::thread helper;
  try {
    helper = std::thread(searchRange, 1);
  } catch (const std::system_error&) {
    searchRange(1);
  }
  searchRange(0);
  if (helper.joinable()) helper.join();

  for (int a = 0; a < 64; ++a)
    for (int b = 0; b < 64; ++b) {
      between[a][b] = lineThrough[a][b] = 0;
      if (a == b) continue;
      if (orthogonalRays[a] & bit(b)) {
        between[a][b] = rookAttacks(a, bit(b)) & rookAttacks(b, bit(a));
        lineThrough[a][b] = (orthogonalRays[a] & orthogonalRays[b]) | bit(a) | bit(b);
      } else if (diagonalRays[a] & bit(b)) {
        between[a][b] = bishopAttacks(a, bit(b)) & bishopAttacks(b, bit(a));
        lineThrough[a][b] = (diagonalRays[a] & diagonalRays[b]) | bit(a) | bit(b);
      }
    }

  for (int s = 0; s < 64; ++s) {
    passedMask[WHITE][s] = passedMask[BLACK][s] = 0;
    int rank = s >> 3, file = s & 7;
    if (rank == 0 || rank == 7) continue;
    for (int f = file - 1; f <= file + 1; ++f) {
      if (f < 0 || f > 7) continue;
      for (int r = rank + 1; r < 8; ++r) passedMask[WHITE][s] |= bit(r * 8 + f);
      for (int r = rank - 1; r >= 0; --r) passedMask[BLACK][s] |= bit(r * 8 + f);
    }
  }

  currentBoard.plies[0].listStart = commandMoveBuffer;
}

void initKeys() {
  int n = 0;
  for (int code = 0; code < 2; ++code)
    for (int s = 0; s < 64; ++s) zobrist.piece[code][s] = 0;
  for (int code = 2; code < 14; ++code)
    for (int s = 0; s < 64; ++s) zobrist.piece[code][s] = zobristSource[n++];
  for (int i = 0; i < 16; ++i) zobrist.castle[i] = zobristSource[n++];
  for (int i = 0; i < 8; ++i) zobrist.ep[i] = zobristSource[n++];
  zobrist.side = zobristSource[n];
}

u64 computeHashKey(const board& b) {
  u64 key = 0;
  for (int s = 0; s < 64; ++s)
    if (b.pieceOn[s] >= 2 && b.pieceOn[s] < 14) key ^= zobrist.piece[b.pieceOn[s]][s];
  key ^= zobrist.castle[b.plies[0].castleRights & 15];
  if (b.plies[0].epSquare != 0) key ^= zobrist.ep[b.plies[0].epSquare & 7];
  if (b.sideToMove == BLACK) key ^= zobrist.side;
  return key;
}
