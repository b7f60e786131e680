#pragma once
// Iterative deepening at the root, run by every search thread on its own
// board, and the principal-variation walk through the hash table.

#include <atomic>
#include <string>

#include "board/board.h"

class worker;
struct rootLine;

// "MultiPV": how many best root moves each iteration finds, 1 to 256.
extern std::atomic<int> multiPvLines;

// Per-thread rows (thread index mod 16): aspiration widths and depth skipping.
extern const i16 aspirationDeltas[16][5];
extern const u8 skipPeriod[16];
extern const u8 skipStep[16];

void rootSearch(worker& w);
// Reads the variation from the table into plies[0..pvLast].bestMove; the
// board is left as it was found.
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
void openWindow(aspirationWindow& w, int row, int depth, int prevScore);
// Widens the window after `score` fell outside it; false when it was inside.
bool widenWindow(aspirationWindow& w, int row, int score);

// The time factor after an iteration of `depth` with the given instability.
double nextTimeFactor(double timeFactor, int depth, int instability);
// Number of other threads at a depth that makes a helper skip it.
int skipLimit(int threads);
