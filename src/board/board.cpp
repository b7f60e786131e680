#include "board/board.h"

#include <algorithm>
#include <utility>
#include <climits>
#include <cstring>
#include <vector>

#include "board/attacks.h"
#include "board/decimal.h"

board currentBoard;
chessMove commandMoveBuffer[MOVE_BUFFER_SIZE];

namespace {

// Squares from a to b on one rank, both included.
u64 rankSpan(int a, int b) {
  if (a > b) std::swap(a, b);
  u64 s = 0;
  for (int sq = a; sq <= b; ++sq) s |= bit(sq);
  return s;
}

// The squares each right needs, from the king's and rook's start squares.
// The king lands on the g- or c-file, the rook next to it on the inner side.
// A standard set-up tests only the square the king crosses (its landing
// square is left to the legality test); a Chess960 set-up tests every square
// of the king's way, landing square included, with the rook lifted off the
// board, since the rook may be what shields that square now.
void addRight(castlingSetup& c, int right, int colour, int kingSq, int rookSq) {
  const int base = colour == WHITE ? 0 : 56;
  const bool isShort = (right & 3) != 0;
  const int i = castleIndex(colour, isShort);
  const int kingTo = base + (isShort ? 6 : 2), rookTo = base + (isShort ? 5 : 3);
  c.rookFrom[i] = u8(rookSq);
  c.mustBeEmpty[i] = (rankSpan(kingSq, kingTo) | rankSpan(rookSq, rookTo)) & ~(bit(kingSq) | bit(rookSq));
  c.kingPath[i] = c.chess960 ? rankSpan(kingSq, kingTo) : rankSpan(kingSq, kingTo) & ~(bit(kingSq) | bit(kingTo));
  c.kept[kingSq] &= u8(~(5 << colour) & 15);
  c.kept[rookSq] &= u8(~right & 15);
  c.touched |= bit(kingSq) | bit(rookSq);
}

void clearSetup(castlingSetup& c, bool chess960) {
  c = castlingSetup{};
  c.chess960 = chess960 ? 1 : 0;
  for (u8& k : c.kept) k = 15;
}

// KQkq: a right needs its king and rook at home (e1/e8, h- and a-file);
// others are dropped. Shredder's HAha means the same on these squares.
u8 readCastling(const std::string& field, const u8* pieceOn, castlingSetup& c) {
  clearSetup(c, false);
  u8 rights = 0;
  for (char ch : field) {
    if (ch == 'K' || ch == 'H') rights |= CASTLE_WK;
    if (ch == 'k' || ch == 'h') rights |= CASTLE_BK;
    if (ch == 'Q' || ch == 'A') rights |= CASTLE_WQ;
    if (ch == 'q' || ch == 'a') rights |= CASTLE_BQ;
  }
  if (pieceOn[4] != WHITE_KING) rights &= u8(~(CASTLE_WK | CASTLE_WQ));
  if (pieceOn[60] != BLACK_KING) rights &= u8(~(CASTLE_BK | CASTLE_BQ));
  if (pieceOn[7] != WHITE_ROOK) rights &= u8(~CASTLE_WK);
  if (pieceOn[0] != WHITE_ROOK) rights &= u8(~CASTLE_WQ);
  if (pieceOn[63] != BLACK_ROOK) rights &= u8(~CASTLE_BK);
  if (pieceOn[56] != BLACK_ROOK) rights &= u8(~CASTLE_BQ);
  // The standard squares, whatever the rights: a board without rights never
  // reads them, and one with rights finds every right where it expects it.
  c.kingFrom[WHITE] = 4;
  c.kingFrom[BLACK] = 60;
  addRight(c, CASTLE_WK, WHITE, 4, 7);
  addRight(c, CASTLE_WQ, WHITE, 4, 0);
  addRight(c, CASTLE_BK, BLACK, 60, 63);
  addRight(c, CASTLE_BQ, BLACK, 60, 56);
  return rights;
}

// Chess960: K/Q name the outermost rook on that side of the king, a file
// letter the rook on that file; upper case White, lower case Black. A letter
// whose king is not on its first rank, or whose rook is not there, is
// dropped; so is a second letter for a side that already has its rook.
u8 readCastling960(const std::string& field, const u8* pieceOn, castlingSetup& c) {
  clearSetup(c, true);
  u8 rights = 0;
  for (char ch : field) {
    const bool upper = ch >= 'A' && ch <= 'Z';
    const int colour = upper ? WHITE : BLACK;
    const char letter = char(upper ? ch - 'A' + 'a' : ch);
    const int base = colour == WHITE ? 0 : 56;
    const u8 king = u8(WHITE_KING + colour), rook = u8(WHITE_ROOK + colour);
    int kingFile = -1;
    for (int f = 0; f < 8; ++f)
      if (pieceOn[base + f] == king) kingFile = f;
    if (kingFile < 0) continue;
    int rookFile = -1;
    if (letter == 'k') {
      for (int f = 7; f > kingFile && rookFile < 0; --f)
        if (pieceOn[base + f] == rook) rookFile = f;
    } else if (letter == 'q') {
      for (int f = 0; f < kingFile && rookFile < 0; ++f)
        if (pieceOn[base + f] == rook) rookFile = f;
    } else if (letter >= 'a' && letter <= 'h' && pieceOn[base + letter - 'a'] == rook) {
      rookFile = letter - 'a';
    }
    if (rookFile < 0 || rookFile == kingFile) continue;
    const u8 right = u8((rookFile > kingFile ? CASTLE_WK : CASTLE_WQ) << colour);
    if (rights & right) continue;
    rights |= right;
    c.kingFrom[colour] = u8(base + kingFile);
    addRight(c, right, colour, base + kingFile, base + rookFile);
  }
  return rights;
}

}  // namespace

bool readFen(const std::string& input, board& b, bool chess960) {
  std::string text = input;
  if (text.empty() || text.back() != ' ') text += ' ';
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == ' ') {
      fields.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  // Without placement and side there is nothing sound to set up.
  if (fields.size() < 2 || fields[0].empty()) return false;
  if (fields.size() == 2) fields.push_back("-");
  if (fields.size() == 3) fields.push_back("-");
  if (fields.size() == 4) fields.push_back("0");
  if (fields.size() == 5) fields.push_back("1");

  u8 pieceOn[64] = {};
  u64 pieceBB[14] = {};
  // Placement: a character that would fall outside its rank or below a1 is
  // skipped, so malformed text can never write outside the board.
  int rank = 7, file = 0;
  int count[2] = {0, 0};
  for (char ch : fields[0]) {
    if (ch >= '1' && ch <= '8') {
      file += ch - '0';
    } else if (ch == '/') {
      --rank;
      file = 0;
    } else {
      const char* p = ch ? std::strchr(PIECE_LETTERS, ch) : nullptr;
      int code = p ? int(p - PIECE_LETTERS) : 0;
      if (code < 2) continue;
      if (rank >= 0 && rank < 8 && file < 8) {
        int sq = rank * 8 + file;
        // More than sixteen men of one colour cannot arise in chess and would
        // overflow the per-ply move lists; such text is refused.
        if (++count[code & 1] > 16) return false;
        pieceOn[sq] = u8(code);
        pieceBB[code] |= bit(sq);
        pieceBB[code & 1] |= bit(sq);
      }
      ++file;
    }
    if (file > 8) file = 9;
    if (rank < -1) rank = -1;
  }

  std::memcpy(b.pieceOn, pieceOn, sizeof pieceOn);
  std::memcpy(b.pieceBB, pieceBB, sizeof pieceBB);
  b.sideToMove = (!fields[1].empty() && fields[1][0] == 'w') ? WHITE : BLACK;
  const int us = b.sideToMove;

  castlingSetup castling;
  const u8 rights = chess960 ? readCastling960(fields[2], pieceOn, castling) : readCastling(fields[2], pieceOn, castling);
  b.plies[0].castleRights = rights;
  b.castling = castling;

  // En passant is kept as the square of the pawn that advanced two squares.
  // Only a target on the right rank with the enemy pawn behind it is taken:
  // anything else would let a pawn "capture" a square that holds no such pawn.
  b.plies[0].epSquare = 0;
  const std::string& ep = fields[3];
  if (ep.size() >= 2 && ep[0] >= 'a' && ep[0] <= 'h' && ep[1] >= '1' && ep[1] <= '8') {
    int t = 8 * (ep[1] - '1') + (ep[0] - 'a');
    int pawnSq = us == BLACK ? t + 8 : t - 8;
    int wantedRank = us == WHITE ? 5 : 2;
    if ((t >> 3) == wantedRank && pieceOn[pawnSq] == pieceCode(PAWN, us ^ 1)) b.plies[0].epSquare = u8(pawnSq);
  }

  b.halfMoves = i16(readDecimalClamped(fields[4], 0, 1000, 0));
  long long full = readDecimalClamped(fields[5], INT32_MIN, INT32_MAX, 1);
  long long kc = 2 * (full - 1) + us;
  if (kc < 0) kc = 0;
  if (kc > 512) kc = 512;
  b.keyCount = i16(kc);

  b.hashKey = computeHashKey(b);
  b.keyHistory[b.keyCount] = b.hashKey;
  b.keyCount++;
  b.plies[0].inCheck = kingAttacked(b, us) ? 1 : 0;
  return true;
}

bool kingAttacked(const board& b, int side) {
  u64 kings = b.pieceBB[WHITE_KING + side];
  if (!kings) return false;
  return squareAttacked(b, lsb(kings), side ^ 1, occupancy(b));
}

std::string boardDiagram(const board& b) {
  static const char border[] = "+---+---+---+---+---+---+---+---+\n";
  std::string out = border;
  for (int rank = 7; rank >= 0; --rank) {
    for (int file = 0; file < 8; ++file) {
      out += "| ";
      u8 code = b.pieceOn[rank * 8 + file];
      out += code < 14 ? PIECE_LETTERS[code] : ' ';
      out += ' ';
    }
    out += "|\n";
    out += border;
  }
  return out;
}

void resetThreadBoard(board& b) {
  b.sideToMove = 0;
  b.nodes = b.qNodes = b.tbHits = 0;
  b.keyCount = b.halfMoves = 0;
  b.pvLast = b.selDepth = 0;
  for (auto& p : b.plies) {
    p.inCheck = 0;
  }
}

void trimKeyHistory(board& b, int adding) {
  const int count = std::min<int>(b.keyCount, KEY_HISTORY_SIZE);
  if (count + adding <= KEY_SLIDE_MARK) return;
  std::memmove(b.keyHistory, b.keyHistory + (count - KEYS_KEPT), KEYS_KEPT * sizeof(u64));
  b.keyCount = KEYS_KEPT;
}
