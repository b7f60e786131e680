#include "search/tbroot.h"

#include <algorithm>
#include <cstring>

#include "movegen/movegen.h"
#include "tablebase/tbprobe.h"

chessMove tbProbeRoot(board& b, int& score, const chessMove* allowed, int allowedCount) {
  tbPosition pos;
  if (tbInfo.largest == 0 || popCount(occupancy(b)) > tbInfo.largest || !tbPositionFromBoard(b, 0, u8(b.halfMoves & 0xFF), pos))
    return 0;
  // The tables name a move by its squares and promotion piece.
  tbMove asked[MAX_ROOT_MOVES];
  allowedCount = allowed ? std::min(allowedCount, MAX_ROOT_MOVES) : 0;
  for (int i = 0; i < allowedCount; ++i) {
    const chessMove a = allowed[i];
    const int kind = moveKindOf(a), to = moveTo(a);
    const int dest = kind == EN_PASSANT ? (b.sideToMove == WHITE ? to + 8 : to - 8) : to;
    const int promo = kind == PROMOTE_QUEEN ? 1 : kind == PROMOTE_ROOK ? 2 : kind == PROMOTE_BISHOP ? 3 : kind == PROMOTE_KNIGHT ? 4 : 0;
    asked[i] = makeTbMove(moveFrom(a), dest, promo);
  }
  int dtz = 0;
  const tbMove m = rootBestMove(pos, dtz, allowed ? asked : nullptr, allowedCount);
  if (m == 0 || m == TB_MATED || m == TB_NO_MOVES) return 0;

  const int rule50 = pos.rule50;
  int code;
  if (dtz > 0)
    code = dtz + rule50 <= 100 ? 4 : 3;
  else if (dtz < 0)
    code = rule50 - dtz <= 100 ? 0 : 1;
  else
    code = 2;
  const int from = tbMoveFrom(m), dest = tbMoveTo(m), promo = tbMovePromo(m);
  const bool ep = pos.ep != 0 && dest == pos.ep && (pos.pawns & (pos.turn ? pos.white : pos.black) & bit(from));
  const int absDtz = dtz < 0 ? -dtz : dtz;

  const int us = b.sideToMove;
  int to = dest, kind = MOVE_NORMAL;
  if (ep) {
    kind = EN_PASSANT;
    to = us == WHITE ? dest - 8 : dest + 8;
  } else if (promo) {
    static constexpr int PROMO_KIND[5] = {0, PROMOTE_QUEEN, PROMOTE_ROOK, PROMOTE_BISHOP, PROMOTE_KNIGHT};
    kind = PROMO_KIND[promo];
  } else if (typeOf(b.pieceOn[from]) == PAWN && (dest - from == 16 || from - dest == 16)) {
    kind = DOUBLE_PUSH;  // the engine's make-move needs the kind to set its en-passant square
  }
  const chessMove move = makeChessMove(from, to, kind, b.pieceOn[from]);

  if (!isPseudoLegal(move, b, 0)) return 0;
  // Play it on the pieces alone and check that our king is safe.
  u8 savedOn[64];
  u64 savedBB[14];
  std::memcpy(savedOn, b.pieceOn, sizeof savedOn);
  std::memcpy(savedBB, b.pieceBB, sizeof savedBB);
  const int piece = b.pieceOn[from];
  const int landing = ep ? dest : to;
  if (const int captured = b.pieceOn[to]) {
    b.pieceBB[captured] &= ~bit(to);
    b.pieceBB[us ^ 1] &= ~bit(to);
    b.pieceOn[to] = 0;
  }
  const int placed = promo ? kind + us : piece;
  b.pieceBB[piece] &= ~bit(from);
  b.pieceBB[us] &= ~bit(from);
  b.pieceOn[from] = 0;
  b.pieceBB[placed] |= bit(landing);
  b.pieceBB[us] |= bit(landing);
  b.pieceOn[landing] = u8(placed);
  const bool exposed = kingAttacked(b, us);
  std::memcpy(b.pieceOn, savedOn, sizeof savedOn);
  std::memcpy(b.pieceBB, savedBB, sizeof savedBB);
  if (exposed) return 0;

  score = code == 4 ? MATE_BAND - absDtz : code == 0 ? absDtz - MATE_BAND : 0;
  return move;
}
