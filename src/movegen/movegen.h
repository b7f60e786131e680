#pragma once
// Move generators over the ply's move list. Every generator writes from `out`
// onwards and ends by storing one past its last move as listEnd of `ply` and
// listStart of `ply + 1`.

#include "board/board.h"

// Stages of the search's move picker, as held in plyState::stage while a
// move of that stage is out. generateCaptures sets STAGE_EVASIONS when the
// side to move is in check and it has written the evasions instead.
enum : u8 {
  STAGE_HASH_READY = 0,  // a valid hash move waits to be returned
  STAGE_HASH = 1,        // the hash move is out (or there is none); captures next
  STAGE_CAPTURES = 2,
  STAGE_GOOD_CAPTURES_DONE = 3,  // the good captures are out; the killers next
  STAGE_KILLER1 = 4,
  STAGE_KILLER2 = 5,
  STAGE_COUNTER = 6,
  STAGE_BAD_CAPTURES = 7,
  STAGE_GENERATE_QUIETS = 8,  // the bad captures are out; the quiet moves next
  STAGE_QUIETS = 9,
  STAGE_EVASIONS = 99
};

// The ordering byte of an evasion that takes the checker with a pawn
// (en passant included): the best evasion there is, never demoted.
constexpr int PAWN_TAKES_CHECKER_SCORE = 250;

void generateCaptures(u8 ply, chessMove* out, board& b);
void generateQuiets(u8 ply, chessMove* out, board& b);
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

// Can a remembered move (hash move, killer, counter move, a move of a
// variation) be played at `ply`? The moving piece's code must sit in the top
// byte; the move may still leave its own king in check.
bool isPseudoLegal(chessMove m, const board& b, u8 ply);
