#pragma once
// Move generators over the ply's move list. Every generator writes from `out`
// onwards and ends by storing one past its last move as listEnd of `ply` and
// listStart of `ply + 1`.

#include "board/board.h"

void generateCaptures(u8 ply, chessMove* out, board& b);
void generateQuiets(u8 ply, chessMove* out, board& b);
void generateEvasions(u8 ply, chessMove* out, board& b);
void generateQuiesceCaptures(u8 ply, chessMove* out, board& b);
void generateRecaptures(u8 ply, chessMove* out, board& b);
// Legality of a move from a pseudo-legal list of a ply not in check.
bool isLegal(chessMove m, const board& b, u8 ply);
// The same answer, with the common case decided inline: a move of a piece
// that is neither pinned nor the king, and not en passant, is legal.
inline bool isLegalQuick(chessMove m, const board& b, u8 ply) {
  const int from = moveFrom(m) & 63;
  if ((b.plies[ply].movable & bit(from)) && moveKindOf(m) != EN_PASSANT && typeOf(b.pieceOn[from]) != KING)
    return true;
  return isLegal(m, b, ply);
}
// Exactly the legal moves of the ply; also sets the ply's inCheck.
void generateLegal(u8 ply, chessMove* out, board& b);
// Number of legal moves (perft's last ply); sets the ply's inCheck and movable.
// Counted from the target sets without writing moves, except in check, where
// the evasion list is written as generateCaptures writes it.
unsigned countLegal(u8 ply, chessMove* out, board& b);
