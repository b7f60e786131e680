#pragma once
// Basic value types shared by every subsystem: squares, pieces, moves and the
// packed middlegame/endgame score pair.

#include <cstdint>

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using u32 = std::uint32_t;
using u64 = std::uint64_t;
using i8 = std::int8_t;
using i16 = std::int16_t;
using i32 = std::int32_t;
using i64 = std::int64_t;

constexpr int NOFSQUARES = 64;
constexpr int WHITE = 0;
constexpr int BLACK = 1;

// Piece code = 2 * type + colour; type 1 pawn .. 6 king, 0 = empty square.
enum pieceType : int { PAWN = 1, KNIGHT = 2, BISHOP = 3, ROOK = 4, QUEEN = 5, KING = 6 };
constexpr int pieceCode(int type, int colour) { return 2 * type + colour; }
constexpr int typeOf(int code) { return code >> 1; }
constexpr int colourOf(int code) { return code & 1; }

constexpr u8 WHITE_PAWN = 2, BLACK_PAWN = 3, WHITE_KNIGHT = 4, BLACK_KNIGHT = 5, WHITE_BISHOP = 6,
             BLACK_BISHOP = 7, WHITE_ROOK = 8, BLACK_ROOK = 9, WHITE_QUEEN = 10, BLACK_QUEEN = 11,
             WHITE_KING = 12, BLACK_KING = 13;

// Castling-right bits; the rights of colour c are the bits (5 << c).
constexpr u8 CASTLE_WK = 1, CASTLE_BK = 2, CASTLE_WQ = 4, CASTLE_BQ = 8;

// Letter tables indexed by piece code / type / promotion kind.
inline constexpr const char PIECE_LETTERS[] = "  PpNnBbRrQqKk";
inline constexpr const char TYPE_LETTERS[] = " pnbrqk";
inline constexpr const char PROMO_LETTERS[] = "  ppnnbbrrqq";
inline constexpr const char START_FEN[] = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

// ---- moves ---------------------------------------------------------------
// Four bytes, lowest first: from, to, kind, score (ordering key).
using chessMove = u32;

enum moveKind : u8 {
  MOVE_NORMAL = 0,
  PROMOTE_KNIGHT = 4,
  PROMOTE_BISHOP = 6,
  PROMOTE_ROOK = 8,
  PROMOTE_QUEEN = 10,
  EN_PASSANT = 12,
  DOUBLE_PUSH = 13,
  CASTLE_SHORT = 14,
  CASTLE_LONG = 15
};

constexpr u32 MOVE_MASK = 0x00FFFFFFu;  // identity: from, to, kind

constexpr int moveFrom(chessMove m) { return m & 0xFF; }
constexpr int moveTo(chessMove m) { return (m >> 8) & 0xFF; }
constexpr int moveKindOf(chessMove m) { return (m >> 16) & 0xFF; }
constexpr int moveScore(chessMove m) { return m >> 24; }
constexpr chessMove makeChessMove(int from, int to, int kind = MOVE_NORMAL, int score = 0) {
  return u32(from) | (u32(to) << 8) | (u32(kind) << 16) | (u32(score & 0xFF) << 24);
}
constexpr chessMove withScore(chessMove m, int score) { return (m & MOVE_MASK) | (u32(score & 0xFF) << 24); }
constexpr bool sameMove(chessMove a, chessMove b) { return ((a ^ b) & MOVE_MASK) == 0; }
constexpr bool isPromotion(int kind) { return kind >= PROMOTE_KNIGHT && kind <= PROMOTE_QUEEN; }

// ---- scores --------------------------------------------------------------
// Side-to-move scores: a side mated at ply p scores p - MATE_SCORE; from
// MATE_BAND on a score is a mate (or a tablebase result just outside it).
constexpr int MATE_SCORE = 32000;
constexpr int MATE_BAND = 31872;
constexpr i16 NO_EVAL = -32767;  // no static evaluation (in check)
// Plies without a capture or pawn move after which the game is drawn.
constexpr int FIFTY_MOVE_PLIES = 100;

// ---- evaluation pairs ----------------------------------------------------
// eg * 65536 + mg in a signed 32-bit word, added and subtracted with wrapping.
using combEval = i32;

constexpr combEval X(int mg, int eg) { return combEval(u32(eg) * 65536u + u32(mg)); }
constexpr combEval addEval(combEval a, combEval b) { return combEval(u32(a) + u32(b)); }
constexpr combEval subEval(combEval a, combEval b) { return combEval(u32(a) - u32(b)); }
constexpr int mgOf(combEval v) { return i16(u16(u32(v) & 0xFFFF)); }
constexpr int egOf(combEval v) { return i16(u16((u32(v) + 32768u) >> 16)); }

// ---- bit helpers ---------------------------------------------------------
inline int lsb(u64 b) { return __builtin_ctzll(b); }
inline int popCount(u64 b) { return __builtin_popcountll(b); }
inline int popLsb(u64& b) {
  int s = __builtin_ctzll(b);
  b &= b - 1;
  return s;
}
constexpr u64 bit(int sq) { return u64(1) << sq; }
