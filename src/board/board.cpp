#include "board/board.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "board/attacks.h"
#include "board/decimal.h"

board currentBoard;
chessMove commandMoveBuffer[MOVE_BUFFER_SIZE];

bool readFen(const std::string& input, board& b) {
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

  u8 rights = 0;
  for (char ch : fields[2]) {
    if (ch == 'K') rights |= CASTLE_WK;
    if (ch == 'k') rights |= CASTLE_BK;
    if (ch == 'Q') rights |= CASTLE_WQ;
    if (ch == 'q') rights |= CASTLE_BQ;
  }
  // A right whose king and rook are not at home would make castling move a
  // piece that is not there; such rights are dropped.
  if (pieceOn[4] != WHITE_KING) rights &= u8(~(CASTLE_WK | CASTLE_WQ));
  if (pieceOn[60] != BLACK_KING) rights &= u8(~(CASTLE_BK | CASTLE_BQ));
  if (pieceOn[7] != WHITE_ROOK) rights &= u8(~CASTLE_WK);
  if (pieceOn[0] != WHITE_ROOK) rights &= u8(~CASTLE_WQ);
  if (pieceOn[63] != BLACK_ROOK) rights &= u8(~CASTLE_BK);
  if (pieceOn[56] != BLACK_ROOK) rights &= u8(~CASTLE_BQ);
  b.plies[0].castleRights = rights;

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
