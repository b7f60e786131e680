#pragma once
// One search thread's state (its board, move buffer, move-pair histories and
// the lines of its root), iterative deepening at its root, and the
// principal-variation walk through the hash table. The thread pool above
// runs these; nothing here knows about threads.

#include <atomic>
#include <span>
#include <string>
#include <vector>

#include "board/board.h"
#include "engine/tuning.h"
#include "nnue/accumulator.h"
#include "search/limits.h"
#include "search/ordering.h"

constexpr int HISTORY_PAIR_SIZE = HISTORY_ROW * HISTORY_ROW;

// One line of a search with several lines ("MultiPV") or a restricted root
// ("searchmoves"): its score, the depth it was found at, and its variation.
struct rootLine {
  i16 score = 0;
  i16 depth = 0;
  u8 selDepth = 0;
  u8 pvLast = 0;
  u8 pvShown = 0;  // as the board's: the moves printed when a draw ends the line early
  chessMove pv[PLY_RECORDS] = {};
};

class worker {
 public:
  worker(u32 index, searchControl& control);
  worker(const worker&) = delete;
  worker& operator=(const worker&) = delete;

  // Copies `position` into this thread's board and points the board at the
  // thread's buffers and control again; with a network, at the thread's
  // accumulators too, computed for the position (else the board evaluates
  // by the hand-written terms).
  void takePosition(const board& position, const nnue::network* net = nullptr);
  // Everything a new search of `position` starts from: the position taken
  // as above, the counters and the root's state cleared, `allowed` as the
  // root moves (empty: all), and room for the lines the control asks for,
  // so that the search allocates nothing. `net` must outlive the search.
  void readyForSearch(const board& position, const nnue::network* net, const std::vector<chessMove>& allowed);
  // Thread 0 is the boss: it prints the lines and "bestmove".
  bool isBoss() const { return threadIndex == 0; }

  searchControl& control;
  const u32 threadIndex;
  chessMove moveBuffer[MOVE_BUFFER_SIZE];
  i16 pairHistory2[HISTORY_PAIR_SIZE];  // keyed by the move two plies back
  i16 pairHistory1[HISTORY_PAIR_SIZE];  // keyed by the move one ply back
  std::atomic<i32> currentDepth{0};
  chessMove firstRootMove = 0;  // answer of last resort when stopped at once
  i32 finishedDepth = 0;        // deepest finished iteration of this search
  // The root moves "searchmoves" allows (empty: all), set before the start.
  std::vector<chessMove> rootAllowed;
  // Searched by lines: several lines or a restricted root. The lines shown,
  // best first, and those of the running iteration.
  bool byLines = false;
  int lineCount = 1;  // lines wanted ("MultiPV", at most the allowed moves)
  int linesShown = 0;
  std::vector<rootLine> lines;
  std::vector<rootLine> nextLines;
  // What the boss keeps for its answer: the move and reply of the last
  // finished iteration, whether the root needed no search (mated,
  // stalemated, tablebase root), and whether a score line went out.
  chessMove savedBest = 0;
  chessMove savedPonder = 0;
  bool answeredAtOnce = false;
  bool scoreShown = false;
  board brd;
  // The network's accumulators for brd's plies, used when a search runs
  // with the network.
  nnue::accumulatorStack accumulators;
};

// Per-thread rows (thread index mod 16): aspiration widths and depth skipping.
constexpr int THREAD_ROWS = 16;
extern const i16 aspirationDeltas[THREAD_ROWS][5];
extern const u8 skipPeriod[THREAD_ROWS];
extern const u8 skipStep[THREAD_ROWS];

// The control's state of one search cleared for a search from `root` (its
// limits and clocks are the caller's), and the table told a search begins.
void readyControl(searchControl& ctl, const board& root);

// Generates the root moves and sets up the root; false when the root needs
// no search: no legal move, or (boss only) a root the tablebases answer,
// whose answer the boss has printed.
bool prepareRoot(worker& w);
// Iterative deepening until a limit, the clock or the stop flag ends it.
// `pool` holds every search thread: helpers skip depths others search.
void deepen(worker& w, std::span<worker* const> pool);
// Reads the variation from the table into plies[0..pvLast].bestMove; the
// board is left as it was found. pvShown ends the printed line at a move
// after which the game is drawn: by the fifty-move rule, or by a repetition
// of a position since the last capture or pawn move (in the game or the
// line), which is where the search scored the draw.
// With `first`, the variation starts with that move, the table's from the
// next ply on: a line whose root was searched with moves left out.
void extractPv(board& b, int maxLength, chessMove first = 0);
// The score line of one line, in centipawn or mate form; `number` is 0
// when the line is shown without its number.
std::string rootLineText(const rootLine& line, int number, int side, int material,
                         const castlingSetup* setup = nullptr);
// The shown lines of a thread searched by lines, best first; numbered when
// "MultiPV" asks for several.
void reportShownLines(const worker& w);

// Can `m` (moving piece's code in the top byte) be played in the position at
// `ply`? Only moves that pass are made while walking the variation.
bool pvMoveFits(chessMove m, board& b, u8 ply);

// Aspiration window of one thread, widened after each failed search.
struct aspirationWindow {
  int alpha = -32767;
  int beta = 32767;
  int failLows = 0;
  int failHighs = 0;
  int failHighReduction = 0;  // kept across iterations
};
// Sets the window for iteration `depth` around the previous score.
void openWindow(aspirationWindow& w, int row, int depth, int prevScore, const rootValues& v = handRootValues);
// Widens the window after `score` fell outside it; false when it was inside.
bool widenWindow(aspirationWindow& w, int row, int score, const rootValues& v = handRootValues);

// The time factor after an iteration of `depth` with the given instability.
double nextTimeFactor(double timeFactor, int depth, int instability, const rootValues& v = handRootValues);
// Number of other threads at a depth that makes a helper skip it.
int skipLimit(int threads);
