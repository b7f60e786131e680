#include "movegen/movetext.h"

namespace {

void appendSquare(std::string& out, int sq) {
  sq &= 63;
  out += char('a' + (sq & 7));
  out += char('1' + (sq >> 3));
}

bool readSquare(char file, char rank, int& sq) {
  if (file < 'a' || file > 'h' || rank < '1' || rank > '8') return false;
  sq = 8 * (rank - '1') + (file - 'a');
  return true;
}

int promotionKind(char letter) {
  switch (letter) {
    case 'n': return PROMOTE_KNIGHT;
    case 'b': return PROMOTE_BISHOP;
    case 'r': return PROMOTE_ROOK;
    case 'q': return PROMOTE_QUEEN;
    default: return -1;
  }
}

// Would capturing what stands on `sq` break the board? Own pieces and kings
// cannot be taken: the board would lose a piece of the wrong colour or a king.
bool forbiddenVictim(const board& b, int sq, int us) {
  int code = b.pieceOn[sq];
  return code != 0 && (colourOf(code) == us || typeOf(code) == KING);
}

// Chess960: the king takes its own rook. Only a rook that holds its right
// makes this castling, and only when the men it moves have their way clear;
// the legal-move test does the rest.
bool parseCastle960(const board& b, int from, int rookSq, chessMove& out) {
  const int us = b.sideToMove;
  const castlingSetup& c = b.castling;
  const bool isShort = rookSq > from;
  const int i = castleIndex(us, isShort);
  if (!(b.plies[0].castleRights & (1 << i)) || c.rookFrom[i] != rookSq || c.kingFrom[us] != from) return false;
  if (occupancy(b) & c.mustBeEmpty[i]) return false;
  const int base = us == WHITE ? 0 : 56;
  out = makeChessMove(from, base + (isShort ? 6 : 2), isShort ? CASTLE_SHORT : CASTLE_LONG);
  return true;
}

}  // namespace

std::string moveText(chessMove m, int side, const castlingSetup* setup) {
  std::string text;
  text.reserve(5);
  const int kind = moveKindOf(m);
  int landing = moveTo(m);
  if (kind == EN_PASSANT) landing = side == WHITE ? landing + 8 : landing - 8;
  if (setup && setup->chess960 && (kind == CASTLE_SHORT || kind == CASTLE_LONG))
    landing = setup->rookFrom[castleIndex(side, kind == CASTLE_SHORT)];
  appendSquare(text, moveFrom(m));
  appendSquare(text, landing);
  if (isPromotion(kind) && !(kind & 1)) text += PROMO_LETTERS[kind];
  return text;
}

bool parseMoveText(const std::string& text, const board& b, chessMove& out) {
  if (text.size() != 4 && text.size() != 5) return false;
  int from, to;
  if (!readSquare(text[0], text[1], from) || !readSquare(text[2], text[3], to)) return false;
  int kind = MOVE_NORMAL;
  if (text.size() == 5) {
    kind = promotionKind(text[4]);
    if (kind < 0) return false;
  }

  const int us = b.sideToMove;
  const int piece = b.pieceOn[from];
  if (piece == 0 || colourOf(piece) != us) return false;
  if (b.castling.chess960 && piece == WHITE_KING + us && b.pieceOn[to] == WHITE_ROOK + us && text.size() == 4)
    return parseCastle960(b, from, to, out);
  if (forbiddenVictim(b, to, us)) return false;

  const int type = typeOf(piece);
  // Only a pawn can be promoted; any other piece turned into a promotion
  // would leave its own code behind on the board.
  if (kind != MOVE_NORMAL && type != PAWN) return false;

  if (type == KING) {
    const int home = us == WHITE ? 4 : 60;
    const bool isShort = text == (us == WHITE ? "e1g1" : "e8g8");
    const bool isLong = text == (us == WHITE ? "e1c1" : "e8c8");
    if (from == home && (isShort || isLong) && !b.castling.chess960) {
      // Castling moves the rook too: it must stand on its corner with
      // nothing between it and the king, or the board would be corrupted.
      const int rookSq = isShort ? home + 3 : home - 4;
      if (b.pieceOn[rookSq] != WHITE_ROOK + us) return false;
      for (int s = (isShort ? home + 1 : rookSq + 1); s < (isShort ? rookSq : home); ++s)
        if (b.pieceOn[s]) return false;
      kind = isShort ? CASTLE_SHORT : CASTLE_LONG;
    }
  } else if (type == PAWN) {
    const bool sameFile = (from & 7) == (to & 7);
    if (sameFile || b.pieceOn[to]) {
      // A two-square advance sets the en-passant square; only a real one
      // from the start rank over an empty square may do that, or a capture
      // could later land on an occupied square.
      const int up = us == WHITE ? 8 : -8;
      const int startRank = us == WHITE ? 1 : 6;
      if (sameFile && to == from + 2 * up && (from >> 3) == startRank && !b.pieceOn[from + up] && !b.pieceOn[to])
        kind = DOUBLE_PUSH;
    } else {
      const int captured = us == WHITE ? to - 8 : to + 8;
      if (captured < 0 || captured > 63 || forbiddenVictim(b, captured, us)) return false;
      kind = EN_PASSANT;
      to = captured;
    }
  }
  out = makeChessMove(from, to, kind);
  return true;
}
