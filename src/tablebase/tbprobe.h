#pragma once
// Entry points of the endgame tablebases used by the engine.

#include <optional>
#include <string>

#include "board/board.h"
#include "board/sink.h"
#include "tablebase/tbposition.h"

// What the search reads of the tablebases.
struct tbSearchInfo {
  // Largest piece count of the loaded tables; 0 when none are loaded.
  int largest = 0;
  // Below the largest piece count the search probes at any depth; at it,
  // only from this remaining depth on ("SyzygyProbeDepth").
  int probeDepth = 0;
};
extern tbSearchInfo tbInfo;

// Registers the tables found in `paths` (directories separated by ':' or
// ';'); the number of tables found, or nothing when no directory was named.
std::optional<int> initTablebases(const std::string& paths);
// Where the reader's own messages go, mostly raised while a search probes: a
// table that cannot be mapped (`notice`, a line for the GUI) and a missing or
// corrupted table (`error`, text for standard error). Dropped until set.
void setTbMessageSinks(textSink notice, textSink error);
// WDL of the position at `ply`: TB_LOSS (0) .. TB_WIN (4) for the side to
// move, -1 unknown.
constexpr int TB_LOSS = 0;
constexpr int TB_WIN = 4;
int tbProbeSearch(u8 ply, board& b);

// ---- the probes behind them (also used by tests and the benchmark) ----------
// WDL -2 loss, -1 blessed loss, 0 draw, 1 cursed win, 2 win, for the side to
// move; success 0 means no answer.
int probeWdl(const tbPosition& pos, int& success);
// Plies to the next zeroing move on a best path, signed like the WDL; 100 is
// added for cursed wins and blessed losses; 0 for a draw.
int probeDtz(const tbPosition& pos, int& success);
int probeCaptures(const tbPosition& pos, int alpha, int beta, int& success);

// The probe position of ply `ply` of a board. False when the board is no
// position the tables could answer (missing or extra kings, overlapping
// pieces, pawns on the first or last rank, the side not to move in check).
bool tbPositionFromBoard(const board& b, u8 ply, u8 rule50, tbPosition& out);

constexpr tbMove TB_MATED = 65534;
constexpr tbMove TB_NO_MOVES = 65535;
// The move that keeps the best tablebase result: 0 when a probe fails,
// TB_MATED or TB_NO_MOVES when there is no move. dtz receives the root's DTZ.
// With `allowed` (a list of `allowedCount` moves) only those moves are
// considered: the best of them, wins before draws before losses, and dtz
// then receives that move's value in the same terms.
tbMove rootBestMove(const tbPosition& pos, int& dtz, const tbMove* allowed = nullptr, int allowedCount = 0);
