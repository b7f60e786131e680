#pragma once
// Playing and taking back moves; the state unmake needs goes to plies[ply + 1].

#include "board/board.h"

void makeMove(board& b, u8 ply, chessMove m);
void unmakeMove(board& b, u8 ply, chessMove m);
// The key the position will have after `m` (from a list of this ply), for
// fetching a child's table bucket before its move is made. The inline part
// serves the plain moves that leave the castling rights alone.
u64 keyAfterAnyMove(const board& b, u8 ply, chessMove m);
inline u64 keyAfter(const board& b, u8 ply, chessMove m) {
  const plyState& ps = b.plies[ply];
  const int from = moveFrom(m), to = moveTo(m), code = b.pieceOn[from];
  if (moveKindOf(m) != MOVE_NORMAL || (ps.castleRights && ((bit(from) | bit(to)) & b.castling.touched)))
    return keyAfterAnyMove(b, ply, m);
  // Row 0 of the piece keys is zero: an empty `to` adds nothing.
  u64 key = b.hashKey ^ zobrist.side ^ zobrist.piece[b.pieceOn[to]][to] ^ zobrist.piece[code][from] ^ zobrist.piece[code][to];
  if (ps.epSquare) key ^= zobrist.ep[ps.epSquare & 7];
  return key;
}

// Would the side to move attack the opponent's king after `m` (a legal
// move of this ply)? The same answer as the king test on the board after
// makeMove, read from the board before it, so that a move which is only
// looked at for giving check need not be made.
bool givesCheck(const board& b, chessMove m);

// What a node's moves need for the same answer in a few operations: the
// squares from which each piece type would hit the opponent's king, and our
// pieces whose leaving uncovers one of our sliders onto it.
struct checkTest {
  u64 squares[7];   // by piece type
  u64 discoverers;  // our pieces alone between one of our sliders and the king
  int ksq;
  bool full;  // no shortcut here: the opponent has no king or is in check already
};
void prepareCheckTest(const board& b, checkTest& t);

inline bool givesCheck(const board& b, const checkTest& t, chessMove m) {
  const int kind = moveKindOf(m);
  // En passant, castling and promotions take the long way.
  if (t.full || (kind != MOVE_NORMAL && kind != DOUBLE_PUSH)) return givesCheck(b, m);
  const int from = moveFrom(m), to = moveTo(m);
  // A piece that moves along the line to the king keeps the line covered.
  return (t.squares[typeOf(b.pieceOn[from])] & bit(to)) ||
         ((t.discoverers & bit(from)) && !(lineThrough[t.ksq][from] & bit(to)));
}

// Null move for the search: unmake restores the key the caller saved before.
void makeNullMove(board& b, u8 ply);
void unmakeNullMove(board& b, u8 ply, u64 savedKey);
