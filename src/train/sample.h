#pragma once
// A training position as the trainer keeps it in memory: the occupancy and
// one 4-bit code per piece (the engine's piece code, which the net's feature
// decoder reads), the label from the side to move's view. 32 bytes, so 50 M
// positions take 1.6 GB.

#include <string>

#include "board/board.h"
#include "format/netfile.h"

namespace train {

constexpr int MAX_PIECES = 32;

struct sample {
  u64 occupied;     // bit s set: square s holds a piece
  u8 codes[16];     // the engine's piece code (2 white pawn .. 13 black king),
                    // one nibble per occupied square in increasing order, low
                    // nibble first
  i16 score;        // centipawns, side to move's view
  u8 stm;           // side to move: 0 White, 1 Black
  u8 result;        // side to move's result: 0 lost, 1 drawn, 2 won
  u32 unused;
};
static_assert(sizeof(sample) == 32);

// A position (engine piece codes by square, 0 empty) with its label, both
// from the side to move's view (`result` 0, 1 or 2). False, and `out`
// untouched, for more than 32 pieces.
bool packSample(const u8 pieceOn[64], int sideToMove, int score, int result, sample& out);
inline bool packSample(const board& b, int score, int result, sample& out) {
  return packSample(b.pieceOn, b.sideToMove, score, result, out);
}

// The piece code of the n-th occupied square.
inline int sampleCode(const sample& s, int n) { return (s.codes[n >> 1] >> ((n & 1) * 4)) & 15; }

// The active inputs of both views, side to move's first: every piece gives
// one index per view, through the engine's own decoder (nnue::pieceFeature),
// flipped by each view's king in a `mirrored` net (nnue::kingFlip).
// Returns the number of pieces; `stm` and `other` hold that many indices each.
inline int sampleFeatures(const sample& s, int* stm, int* other, bool mirrored = false) {
  const int us = s.stm, them = s.stm ^ 1;
  int flip[2] = {0, 0};
  if (mirrored) {
    int n = 0;
    for (u64 occ = s.occupied; occ; ++n) {
      const int sq = popLsb(occ), code = sampleCode(s, n);
      if (code == WHITE_KING || code == BLACK_KING) flip[code & 1] = nnue::kingFlip(true, sq);
    }
  }
  u64 occ = s.occupied;
  int n = 0;
  while (occ) {
    const int sq = popLsb(occ);
    const int code = sampleCode(s, n);
    stm[n] = nnue::pieceFeature(us, code, sq, flip[us]);
    other[n] = nnue::pieceFeature(them, code, sq, flip[them]);
    ++n;
  }
  return n;
}

// FEN of the position (castling and en passant are not kept: "-").
std::string sampleFen(const sample& s);

}  // namespace train
