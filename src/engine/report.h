#pragma once
// Text of the search's "info" and "bestmove" lines, and the sink they go to.

#include <atomic>
#include <string>

#include "board/board.h"
#include "board/sink.h"

// The search threads say their lines through this sink, which the protocol
// layer installs at start-up; until then they are dropped.
void setReportSink(textSink sink);
// Hands `line` and its "\n" to the sink.
void reportLine(const std::string& line);

inline constexpr const char MATED_ROOT_LINE[] = "info score mate 0";
inline constexpr const char STALEMATE_ROOT_LINE[] = "info score cp 0";

struct searchTotals {
  u64 nodes = 0;
  u64 nps = 0;
  u64 time = 1;
  u64 tbHits = 0;
};

// Sums the counters of every pool thread (approximate while they run); the
// time is elapsedMs, raised to 1 ms (and stored back) when it is 0.
searchTotals poolTotals();
// Nodes of every pool thread so far, quiescence nodes included.
u64 poolNodes();
searchTotals makeTotals(u64 nodes, i64 elapsed, u64 tbHits);

// Moves of plies[0..pvLast].bestMove, each followed by one blank; only the
// first pvShown of them when that is set.
std::string pvText(const board& b);
// Full moves to mate: positive when the side to move mates.
int mateMoves(int score);

// Moves of a variation, each followed by one blank; `side` makes the first.
// Castling is written for the game's castling set-up.
std::string pvTextOf(const chessMove* moves, int count, int side, const castlingSetup* setup = nullptr);

// Per mille chances of a win, a draw and a loss for the side to move.
struct wdlChances {
  int win = 0, draw = 0, loss = 0;
};
// Material left on the board, counted 1 3 3 5 9 for pawn to queen: the
// model's measure of how far the game has gone.
int materialCount(const board& b);
// A mate score is a certain result, and so is a tablebase result (a score
// just outside the mate band); other scores go through the fitted model.
wdlChances wdlFromScore(int score, int material);
// Neither side can mate by any sequence of legal moves: no pawn, rook or
// queen, and either at most one minor piece or only bishops, all on squares
// of one colour. (Other piece sets may be hopeless, but a mate stays possible.)
bool drawnByMaterial(const board& b);
// What a score line of the search's root carries after its score:
// " wdl W D L" when "UCI_ShowWDL" is on, else nothing. A root drawn by its
// material is a certain draw.
std::string wdlField(int score, int material);
std::string wdlField(const wdlChances& c);

// Optional parts of a score line: the line number when several lines are
// shown (0: none) and the " wdl ..." text.
struct lineExtras {
  int multiPv = 0;
  std::string wdl;
};

std::string centipawnLine(int score, int depth, int selDepth, const searchTotals& t, const std::string& pv,
                          const lineExtras& x = {});
std::string mateLine(int score, int depth, const searchTotals& t, const std::string& pv, const lineExtras& x = {});
// The mate line for a mate score, else the centipawn line: a GUI reads
// "cp 31990" as a material edge, not as a mate.
std::string scoreLine(int score, int depth, int selDepth, const searchTotals& t, const std::string& pv,
                      const lineExtras& x = {});
// The line of a root the tablebases answer, played at once.
std::string tablebaseRootLine(int score, chessMove m, int side, const std::string& wdl = "");
// "bestmove ..." with " ponder ..." when `ponder` is not the empty move;
// castling written for the game's castling set-up.
std::string bestMoveLine(chessMove best, chessMove ponder, int side, const castlingSetup* setup = nullptr);
