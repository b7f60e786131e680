#pragma once
// The position record: a plain, fixed-size, bytewise-copyable struct that a
// search thread walks the tree on. Make/unmake keep every redundant field in
// step; the per-ply records hold the state that unmake reads back.

#include <string>
#include <type_traits>

#include "board/attacks.h"
#include "board/types.h"

// The search's control (limits, stop flag, clocks), which the search layer
// defines; a search thread's board points at the one it obeys.
struct searchControl;
// A search thread's network accumulators, one per ply (the network's layer
// defines them); null when the thread evaluates by the hand-written terms.
namespace nnue {
struct accumulatorStack;
}

constexpr int MAX_PLY = 127;
constexpr int PLY_RECORDS = 129;
constexpr int KEY_HISTORY_SIZE = 1024;
constexpr int MOVE_BUFFER_SIZE = 8192;
// More than any position's legal moves (218).
constexpr int MAX_ROOT_MOVES = 256;

// Two whole cache lines per record: the records are indexed by shifts and
// no record straddles a third line.
struct alignas(64) plyState {
  combEval savedMaterial[2];
  combEval savedPst[2];
  u64 savedKey;
  chessMove* listEnd;
  chessMove* cursor;
  chessMove* quietStart;
  chessMove* captureEnd;
  chessMove* listStart;
  chessMove currentMove;
  chessMove hashMove;
  chessMove killer1;
  chessMove killer2;
  chessMove counterReply;
  chessMove bestMove;
  u64 movable;
  i16 staticEval;
  u32 savedHalfMoves;
  i16 savedPhase;
  u8 captured;
  u8 epSquare;
  u8 castleRights;
  u8 stage;
  bool inCheck;
  bool quietsScored;  // quietScores hold the history sums of this ply's quiet moves...
  u32 scoredVersion;  // ...as of this historyVersion of the side to move
};

// How the game castles, fixed by its set-up (the FEN read) and the same for
// every position reached from it; not part of the key. Index i of the arrays
// is the right bit (1 << i): white short, black short, white long, black long.
struct castlingSetup {
  bool chess960;    // castling is written as the king taking its own rook
  u8 kingFrom[2];   // by colour
  u8 rookFrom[4];   // the castling rook's square, by right
  u8 kept[64];      // rights that survive a move from or to the square
  u64 touched;      // the squares where `kept` drops a right
  u64 mustBeEmpty[4];  // between king, rook and their destinations
  u64 kingPath[4];     // must not be attacked (the king's own square aside)
};

// Right index of colour `us`, short or long side.
constexpr int castleIndex(int us, bool isShort) { return isShort ? us : 2 + us; }

struct board {
  u8 pieceOn[64];
  u64 hashKey;
  u64 pieceBB[14];
  u8 sideToMove;
  combEval material[2];
  combEval pstSum[2];
  i16 phase;
  i16* pairHistory2;  // move-pair histories, keyed by the move two plies back...
  i16* pairHistory1;  // ...and one ply back
  searchControl* control;
  nnue::accumulatorStack* accumulators;
  u64 nodes;
  u64 qNodes;
  u64 tbHits;
  i16 keyCount;
  i16 halfMoves;
  u16 bestMoveChanges;
  i16 rootScore;
  u16 rootDepth;
  bool rootDepthComplete;
  i32 nodesToClockCheck;
  u8 pvLast;
  u8 selDepth;
  u64 keyHistory[KEY_HISTORY_SIZE];
  plyState plies[PLY_RECORDS];
  i16 history[12][64];
  chessMove counterMove[12][64];
  // Counts the history updates made for each side. An update for one side
  // only touches entries of that side's pieces, so the sums of a list of
  // quiet moves stay valid while their side's count stands still.
  u32 historyVersion[2];
  // History sums of quiet moves, one per slot of the move buffer.
  i32 quietScores[MOVE_BUFFER_SIZE];
  castlingSetup castling;
  // Root moves the search leaves out: those "searchmoves" did not name and,
  // with several lines, the moves of the lines already chosen.
  u16 rootSkipCount;
  chessMove rootSkip[MAX_ROOT_MOVES];
};

static_assert(sizeof(plyState) == 128);
static_assert(std::is_trivially_copyable_v<board>, "board must be copyable as one block");
static_assert(std::is_standard_layout_v<board>);

// The command thread's position and the move buffer its copies ("perft",
// "rtest", "position") generate into.
extern board currentBoard;
extern chessMove commandMoveBuffer[MOVE_BUFFER_SIZE];

// Fills `b` from FEN text, all but the evaluation sums (setFromFen in
// movegen/setup.h adds those); tolerant of missing trailing fields. Returns
// false (and leaves `b` unchanged) when the text lacks a usable placement and
// side. With `chess960` the castling field may name any rook of the king's
// rank (Shredder-FEN file letters, or X-FEN's K/Q for the outermost rook), and
// the board castles and writes castling as in Chess960.
bool readFen(const std::string& text, board& b, bool chess960 = false);

// 17-line diagram, as printed by "showboard" and the perft commands.
std::string boardDiagram(const board& b);

// Does colour `by` attack `sq` with occupancy `occ`? The step attackers are
// tested first: they are the cheap ones.
inline bool squareAttacked(const board& b, int sq, int by, u64 occ) {
  return (pawnAttackers[by][sq] & b.pieceBB[WHITE_PAWN + by]) || (knightAttacks[sq] & b.pieceBB[WHITE_KNIGHT + by]) ||
         (kingAttacks[sq] & b.pieceBB[WHITE_KING + by]) ||
         (bishopAttacks(sq, occ) & (b.pieceBB[WHITE_BISHOP + by] | b.pieceBB[WHITE_QUEEN + by])) ||
         (rookAttacks(sq, occ) & (b.pieceBB[WHITE_ROOK + by] | b.pieceBB[WHITE_QUEEN + by]));
}

// Is the king of `side` attacked on this board?
bool kingAttacked(const board& b, int side);

// Square of the king of `side`; a valid square (0) stands in when it is missing.
inline int kingSquare(const board& b, int side) {
  u64 k = b.pieceBB[WHITE_KING + side];
  return k ? lsb(k) : 0;
}

inline u64 occupancy(const board& b) { return b.pieceBB[0] | b.pieceBB[1]; }

// The fields a freshly built search or tuning thread starts from.
void resetThreadBoard(board& b);

// A game record kept near the key history's end would leave no room for the
// keys still to come (the rest of a "position" move list, a search's 128
// plies). Before `adding` more keys would take the history past
// KEY_SLIDE_MARK, it slides down to its newest KEYS_KEPT keys: repetition
// detection looks back only halfMoves plies, and the half-move clock is far
// below 512 in any game that matters.
constexpr int KEY_SLIDE_MARK = KEY_HISTORY_SIZE - 130;
constexpr int KEYS_KEPT = 512;
void trimKeyHistory(board& b, int adding = 0);
