#include "train/sample.h"

#include <cstring>

namespace train {

bool packSample(const u8 pieceOn[64], int sideToMove, int score, int result, sample& out) {
  sample s{};
  int n = 0;
  for (int sq = 0; sq < 64; ++sq) {
    const int code = pieceOn[sq];
    if (!code) continue;
    if (n == MAX_PIECES) return false;
    s.occupied |= bit(sq);
    s.codes[n >> 1] |= u8(code << ((n & 1) * 4));
    ++n;
  }
  s.score = i16(score);
  s.stm = u8(sideToMove);
  s.result = u8(result);
  out = s;
  return true;
}

std::string sampleFen(const sample& s) {
  char squares[64];
  std::memset(squares, 0, sizeof squares);
  u64 occ = s.occupied;
  for (int n = 0; occ; ++n) {
    squares[popLsb(occ)] = PIECE_LETTERS[(s.codes[n >> 1] >> ((n & 1) * 4)) & 15];
  }
  std::string fen;
  for (int rank = 7; rank >= 0; --rank) {
    int empty = 0;
    for (int file = 0; file < 8; ++file) {
      const char c = squares[rank * 8 + file];
      if (!c) {
        ++empty;
        continue;
      }
      if (empty) fen += char('0' + empty);
      empty = 0;
      fen += c;
    }
    if (empty) fen += char('0' + empty);
    if (rank) fen += '/';
  }
  fen += s.stm ? " b - - 0 1" : " w - - 0 1";
  return fen;
}

}  // namespace train
