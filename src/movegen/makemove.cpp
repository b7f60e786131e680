#include "movegen/makemove.h"

#include <cstring>

#include "board/attacks.h"
#include "eval/eval.h"
#include "nnue/accumulator.h"

namespace {

// Evaluation terms indexed by piece code, so that make and unmake never
// compute a type index or mirror a square. Kings carry no material and no
// phase weight (a king can only be "captured" in a position set up with the
// side not to move in check; the sums must still match their from-scratch
// values there).
struct codeTables {
  combEval material[14];
  i16 phase[14];
  combEval pst[14][64];
};

codeTables buildCodeTables() {
  codeTables t{};
  for (int code = 2; code < 14; ++code) {
    int type = (code - 2) / 2, colour = code & 1;
    t.material[code] = type == 5 ? 0 : materialValue[type];
    t.phase[code] = (type >= 1 && type <= 4) ? phaseWeight[type] : 0;
    for (int s = 0; s < 64; ++s) t.pst[code][s] = pieceSquareScore[type][pstIndex(s, colour)];
  }
  return t;
}

// The evaluation tables are constant-initialised, so they are complete
// before this dynamic initialiser runs.
const codeTables tables = buildCodeTables();

inline void movePiece(board& b, int code, int colour, int from, int to) {
  u64 fromTo = bit(from) | bit(to);
  b.pieceBB[code] ^= fromTo;
  b.pieceBB[colour] ^= fromTo;
  b.pieceOn[to] = u8(code);
}

// The castling rook's start square and destination. The king goes from
// `from` to `to` (the g- or c-file); in Chess960 either may not move at all,
// and each may land where the other stood.
inline int castleRookFrom(const board& b, int us, int kind) {
  return b.castling.rookFrom[castleIndex(us, kind == CASTLE_SHORT)];
}
inline int castleRookTo(int to, int kind) { return kind == CASTLE_SHORT ? to - 1 : to + 1; }

// Both men leave before either arrives, so that overlapping squares come
// out right.
inline void placeCastlingMen(board& b, int us, int kingFrom, int kingTo, int rookFrom, int rookTo) {
  const int king = WHITE_KING + us, rook = WHITE_ROOK + us;
  b.pieceBB[king] ^= bit(kingFrom) ^ bit(kingTo);
  b.pieceBB[rook] ^= bit(rookFrom) ^ bit(rookTo);
  b.pieceBB[us] ^= bit(kingFrom) ^ bit(kingTo) ^ bit(rookFrom) ^ bit(rookTo);
  b.pieceOn[kingFrom] = 0;
  b.pieceOn[rookFrom] = 0;
  b.pieceOn[kingTo] = u8(king);
  b.pieceOn[rookTo] = u8(rook);
}

// What unmake restores wholesale, kept in the child's ply record.
inline void saveForUnmake(const board& b, plyState& next) {
  next.savedMaterial[0] = b.material[0];
  next.savedMaterial[1] = b.material[1];
  next.savedPst[0] = b.pstSum[0];
  next.savedPst[1] = b.pstSum[1];
  next.savedPhase = b.phase;
  next.savedKey = b.hashKey;
  next.savedHalfMoves = u32(u16(b.halfMoves));
}

// The network's feature changes of `m`, read from the board before the move
// and written to the child's accumulator record. Out of line, so that make
// without a network pays one test for it.
[[gnu::noinline, gnu::cold]] void noteFeatureChanges(board& b, u8 ply, chessMove m) {
  using nnue::pieceSquare;
  const int from = moveFrom(m), to = moveTo(m), kind = moveKindOf(m);
  const int us = b.sideToMove, code = b.pieceOn[from];
  if (kind >= CASTLE_SHORT) {
    // Both men go before either arrives: in Chess960 a square may be left and entered.
    const int king = WHITE_KING + us, rook = WHITE_ROOK + us;
    const int rookFrom = castleRookFrom(b, us, kind), rookTo = castleRookTo(to, kind);
    nnue::noteMove(b, ply, pieceSquare(king, from), pieceSquare(rook, rookFrom), 2, pieceSquare(king, to),
                   pieceSquare(rook, rookTo), 2);
    return;
  }
  // For en passant `to` holds the captured pawn and the mover lands beside it.
  const int victim = b.pieceOn[to];
  const int arrived = isPromotion(kind) ? kind + us : code;
  const int landing = kind == EN_PASSANT ? (us == WHITE ? to + 8 : to - 8) : to;
  nnue::noteMove(b, ply, pieceSquare(code, from), pieceSquare(victim, to), victim ? 2 : 1,
                 pieceSquare(arrived, landing), 0, 1);
}

void makeCastle(board& b, u8 ply, chessMove m) {
  plyState& prev = b.plies[ply];
  plyState& next = b.plies[ply + 1];
  const int from = moveFrom(m), to = moveTo(m), kind = moveKindOf(m);
  const int us = b.sideToMove;
  const int king = WHITE_KING + us, rook = WHITE_ROOK + us;
  const int rookFrom = castleRookFrom(b, us, kind), rookTo = castleRookTo(to, kind);
  u64 key = b.hashKey;

  next.captured = 0;
  saveForUnmake(b, next);

  const u8 rights = prev.castleRights;
  const u8 newRights = rights & b.castling.kept[from];
  key ^= zobrist.castle[rights] ^ zobrist.castle[newRights];
  next.castleRights = newRights;
  next.epSquare = 0;
  if (prev.epSquare) key ^= zobrist.ep[prev.epSquare & 7];
  key ^= zobrist.side;

  placeCastlingMen(b, us, from, to, rookFrom, rookTo);
  b.pstSum[us] = addEval(b.pstSum[us], subEval(tables.pst[king][to], tables.pst[king][from]));
  b.pstSum[us] = addEval(b.pstSum[us], subEval(tables.pst[rook][rookTo], tables.pst[rook][rookFrom]));
  key ^= zobrist.piece[king][from] ^ zobrist.piece[king][to] ^ zobrist.piece[rook][rookFrom] ^ zobrist.piece[rook][rookTo];

  b.hashKey = key;
  b.keyHistory[b.keyCount++] = key;
  b.halfMoves = i16(b.halfMoves + 1);
  b.sideToMove = u8(us ^ 1);
}

void unmakeCastle(board& b, u8 ply, chessMove m) {
  const plyState& next = b.plies[ply + 1];
  const int from = moveFrom(m), to = moveTo(m), kind = moveKindOf(m);
  const int us = b.sideToMove ^ 1;
  b.sideToMove = u8(us);
  b.hashKey = next.savedKey;
  b.keyCount--;
  b.halfMoves = i16(next.savedHalfMoves);
  placeCastlingMen(b, us, to, from, castleRookTo(to, kind), castleRookFrom(b, us, kind));
  b.pstSum[0] = next.savedPst[0];
  b.pstSum[1] = next.savedPst[1];
}

}  // namespace

void makeMove(board& b, u8 ply, chessMove m) {
  if (b.accumulators) [[unlikely]]
    noteFeatureChanges(b, ply, m);
  if (moveKindOf(m) >= CASTLE_SHORT) return makeCastle(b, ply, m);
  plyState& prev = b.plies[ply];
  plyState& next = b.plies[ply + 1];
  const int from = moveFrom(m), to = moveTo(m), kind = moveKindOf(m);
  const int us = b.sideToMove, them = us ^ 1;
  const int code = b.pieceOn[from];
  const int victim = b.pieceOn[to];
  u64 key = b.hashKey;

  next.captured = u8(victim);
  saveForUnmake(b, next);

  // The capture: for en passant `to` is the captured pawn's square.
  if (victim) {
    b.material[them] = subEval(b.material[them], tables.material[victim]);
    b.pstSum[them] = subEval(b.pstSum[them], tables.pst[victim][to]);
    b.phase = i16(b.phase - tables.phase[victim]);
    b.pieceBB[victim] ^= bit(to);
    b.pieceBB[them] ^= bit(to);
    key ^= zobrist.piece[victim][to];
  }

  const u8 rights = prev.castleRights;
  u8 newRights = rights;
  if (rights) {
    newRights = rights & b.castling.kept[from] & b.castling.kept[to];
    if (newRights != rights) key ^= zobrist.castle[rights] ^ zobrist.castle[newRights];
  }
  next.castleRights = newRights;

  next.epSquare = 0;
  if (prev.epSquare) key ^= zobrist.ep[prev.epSquare & 7];
  key ^= zobrist.side;

  combEval pst = b.pstSum[us];
  switch (kind) {
    case MOVE_NORMAL:
      movePiece(b, code, us, from, to);
      pst = addEval(pst, subEval(tables.pst[code][to], tables.pst[code][from]));
      key ^= zobrist.piece[code][from] ^ zobrist.piece[code][to];
      break;
    case DOUBLE_PUSH:
      movePiece(b, code, us, from, to);
      pst = addEval(pst, subEval(tables.pst[code][to], tables.pst[code][from]));
      key ^= zobrist.piece[code][from] ^ zobrist.piece[code][to] ^ zobrist.ep[to & 7];
      next.epSquare = u8(to);
      break;
    case EN_PASSANT: {
      const int landing = us == WHITE ? to + 8 : to - 8;
      b.pieceOn[to] = 0;
      movePiece(b, code, us, from, landing);
      pst = addEval(pst, subEval(tables.pst[code][landing], tables.pst[code][from]));
      key ^= zobrist.piece[code][from] ^ zobrist.piece[code][landing];
      break;
    }
    default: {  // promotion: the kind is the new piece's white code
      const int promoted = kind + us;
      b.pieceBB[code] ^= bit(from);
      b.pieceBB[promoted] ^= bit(to);
      b.pieceBB[us] ^= bit(from) | bit(to);
      b.pieceOn[to] = u8(promoted);
      b.material[us] = addEval(b.material[us], subEval(tables.material[promoted], tables.material[code]));
      pst = addEval(pst, subEval(tables.pst[promoted][to], tables.pst[code][from]));
      b.phase = i16(b.phase + tables.phase[promoted]);
      key ^= zobrist.piece[code][from] ^ zobrist.piece[promoted][to];
      break;
    }
  }
  b.pstSum[us] = pst;
  b.pieceOn[from] = 0;

  b.hashKey = key;
  b.keyHistory[b.keyCount++] = key;
  b.halfMoves = (victim || typeOf(code) == PAWN) ? 0 : i16(b.halfMoves + 1);
  b.sideToMove = u8(them);
}

void unmakeMove(board& b, u8 ply, chessMove m) {
  if (moveKindOf(m) >= CASTLE_SHORT) return unmakeCastle(b, ply, m);
  const plyState& next = b.plies[ply + 1];
  const int from = moveFrom(m), to = moveTo(m), kind = moveKindOf(m);
  const int them = b.sideToMove, us = them ^ 1;
  b.sideToMove = u8(us);
  b.hashKey = next.savedKey;
  b.keyCount--;
  b.halfMoves = i16(next.savedHalfMoves);

  switch (kind) {
    case MOVE_NORMAL:
    case DOUBLE_PUSH:
      movePiece(b, b.pieceOn[to], us, to, from);
      break;
    case EN_PASSANT: {
      const int landing = us == WHITE ? to + 8 : to - 8;
      movePiece(b, b.pieceOn[landing], us, landing, from);
      b.pieceOn[landing] = 0;
      break;
    }
    default: {
      const int promoted = b.pieceOn[to];
      const int pawn = WHITE_PAWN + us;
      b.pieceBB[promoted] ^= bit(to);
      b.pieceBB[pawn] ^= bit(from);
      b.pieceBB[us] ^= bit(from) | bit(to);
      b.pieceOn[from] = u8(pawn);
      break;
    }
  }

  const int captured = next.captured;
  b.pieceOn[to] = u8(captured);
  if (captured) {
    b.pieceBB[captured] ^= bit(to);
    b.pieceBB[them] ^= bit(to);
  }
  b.material[0] = next.savedMaterial[0];
  b.material[1] = next.savedMaterial[1];
  b.pstSum[0] = next.savedPst[0];
  b.pstSum[1] = next.savedPst[1];
  b.phase = next.savedPhase;
}

u64 keyAfterAnyMove(const board& b, u8 ply, chessMove m) {
  const int from = moveFrom(m), to = moveTo(m), kind = moveKindOf(m);
  const int us = b.sideToMove;
  const int code = b.pieceOn[from];
  const plyState& prev = b.plies[ply];
  if (kind >= CASTLE_SHORT) {
    // The king may land on its rook's square: nothing is captured there.
    const int rook = WHITE_ROOK + us, rookFrom = castleRookFrom(b, us, kind);
    u64 key = b.hashKey ^ zobrist.side ^ zobrist.piece[code][from] ^ zobrist.piece[code][to] ^ zobrist.piece[rook][rookFrom] ^
              zobrist.piece[rook][castleRookTo(to, kind)];
    if (prev.epSquare) key ^= zobrist.ep[prev.epSquare & 7];
    const u8 rights = prev.castleRights;
    return key ^ zobrist.castle[rights] ^ zobrist.castle[rights & b.castling.kept[from]];
  }
  u64 key = b.hashKey ^ zobrist.side ^ zobrist.piece[b.pieceOn[to]][to] ^ zobrist.piece[code][from];
  if (prev.epSquare) key ^= zobrist.ep[prev.epSquare & 7];
  if (const u8 rights = prev.castleRights)
    key ^= zobrist.castle[rights] ^ zobrist.castle[rights & b.castling.kept[from] & b.castling.kept[to]];
  switch (kind) {
    case MOVE_NORMAL: return key ^ zobrist.piece[code][to];
    case DOUBLE_PUSH: return key ^ zobrist.piece[code][to] ^ zobrist.ep[to & 7];
    case EN_PASSANT: return key ^ zobrist.piece[code][us == WHITE ? to + 8 : to - 8];
    default: return key ^ zobrist.piece[kind + us][to];  // promotion: the kind is the new piece's white code
  }
}

bool givesCheck(const board& b, chessMove m) {
  const int from = moveFrom(m), to = moveTo(m), kind = moveKindOf(m);
  const int us = b.sideToMove, them = us ^ 1;
  // The opponent's king as it stands after the move (a king can only be
  // taken in a set-up position, and then nothing is in check).
  const u64 kings = b.pieceBB[WHITE_KING + them] & ~bit(to);
  if (!kings) return false;
  const int ksq = lsb(kings);

  // Our pieces by type after the move, and the occupancy.
  u64 ours[7] = {};
  for (int type = PAWN; type <= KING; ++type) ours[type] = b.pieceBB[pieceCode(type, us)];
  const int type = typeOf(b.pieceOn[from]);
  u64 occ = occupancy(b) ^ bit(from);
  ours[type] ^= bit(from);
  switch (kind) {
    case EN_PASSANT: {
      const int landing = us == WHITE ? to + 8 : to - 8;
      occ ^= bit(to) | bit(landing);
      ours[PAWN] |= bit(landing);
      break;
    }
    case CASTLE_SHORT:
    case CASTLE_LONG: {
      const int rookFrom = castleRookFrom(b, us, kind), rookTo = castleRookTo(to, kind);
      occ = (occ ^ bit(rookFrom)) | bit(to) | bit(rookTo);
      ours[KING] |= bit(to);
      ours[ROOK] ^= bit(rookFrom) ^ bit(rookTo);  // in Chess960 the rook may stay where it is
      break;
    }
    default:
      occ |= bit(to);
      ours[isPromotion(kind) ? typeOf(kind) : type] |= bit(to);
      break;
  }
  return (pawnAttackers[us][ksq] & ours[PAWN]) || (knightAttacks[ksq] & ours[KNIGHT]) ||
         (kingAttacks[ksq] & ours[KING]) || (bishopAttacks(ksq, occ) & (ours[BISHOP] | ours[QUEEN])) ||
         (rookAttacks(ksq, occ) & (ours[ROOK] | ours[QUEEN]));
}

// The shortcut holds for moves that put their own piece on `to` and vacate
// `from`, and only while the opponent is not in check already: then no piece
// but the moved one and the uncovered sliders can attack the king after it,
// and the moved piece cannot have stood on its own new line to the king.
void prepareCheckTest(const board& b, checkTest& t) {
  const int us = b.sideToMove, them = us ^ 1;
  const u64 kings = b.pieceBB[WHITE_KING + them];
  const u64 occ = occupancy(b);
  t.full = !kings || squareAttacked(b, lsb(kings), us, occ);
  if (t.full) return;
  const int ksq = lsb(kings);
  t.ksq = ksq;
  t.squares[0] = 0;
  t.squares[PAWN] = pawnAttackers[us][ksq];
  t.squares[KNIGHT] = knightAttacks[ksq];
  t.squares[BISHOP] = bishopAttacks(ksq, occ);
  t.squares[ROOK] = rookAttacks(ksq, occ);
  t.squares[QUEEN] = t.squares[BISHOP] | t.squares[ROOK];
  t.squares[KING] = kingAttacks[ksq];
  const u64 queens = b.pieceBB[WHITE_QUEEN + us];
  u64 snipers = (diagonalRays[ksq] & (b.pieceBB[WHITE_BISHOP + us] | queens)) |
                (orthogonalRays[ksq] & (b.pieceBB[WHITE_ROOK + us] | queens));
  t.discoverers = 0;
  while (snipers) {
    const u64 inBetween = between[ksq][popLsb(snipers)] & occ;
    if (inBetween && !(inBetween & (inBetween - 1))) t.discoverers |= inBetween & b.pieceBB[us];
  }
}

void makeNullMove(board& b, u8 ply) {
  plyState& next = b.plies[ply + 1];
  std::memcpy(&next, &b.plies[ply], sizeof(plyState));
  next.captured = 0;
  next.epSquare = 0;
  b.sideToMove ^= 1;
  if (b.accumulators) [[unlikely]]
    nnue::noteMove(b, ply, 0, 0, 0, 0, 0, 0);  // no man moves; the views only change places
  u64 key = b.hashKey ^ zobrist.side;
  if (b.plies[ply].epSquare) key ^= zobrist.ep[b.plies[ply].epSquare & 7];
  b.hashKey = key;
}

void unmakeNullMove(board& b, u8, u64 savedKey) {
  b.sideToMove ^= 1;
  b.hashKey = savedKey;
}
