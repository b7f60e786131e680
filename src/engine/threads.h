#pragma once
// Search thread pool. Every thread owns its board, move buffer and two
// move-pair history tables and sleeps until it is given work. Element 0 of the
// pool is the boss: it starts the others, searches itself, collects the
// results and prints "bestmove".

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "board/board.h"
#include "search/ordering.h"

constexpr int HISTORY_PAIR_SIZE = HISTORY_ROW * HISTORY_ROW;

// One line of a search with several lines ("MultiPV") or a restricted root
// ("searchmoves"): its score, the depth it was found at, and its variation.
struct rootLine {
  i16 score = 0;
  i16 depth = 0;
  u8 selDepth = 0;
  u8 pvLast = 0;
  chessMove pv[PLY_RECORDS] = {};
};

class worker {
 public:
  explicit worker(u32 index);
  virtual ~worker();
  virtual void search();

  worker(const worker&) = delete;
  worker& operator=(const worker&) = delete;

  chessMove moveBuffer[MOVE_BUFFER_SIZE];
  i16 pairHistory2[HISTORY_PAIR_SIZE];  // keyed by the move two plies back
  i16 pairHistory1[HISTORY_PAIR_SIZE];  // keyed by the move one ply back
  std::mutex mutex;
  std::condition_variable wake;
  u32 threadIndex;
  std::atomic<i32> currentDepth{0};
  chessMove firstRootMove = 0;  // answer of last resort when stopped at once
  i32 finishedDepth = 0;        // deepest finished iteration of this search
  // The root moves "searchmoves" allows (empty: all), set before the start.
  std::vector<chessMove> rootAllowed;
  // Searched by lines: several lines or a restricted root. The lines shown,
  // best first, and those of the running iteration.
  bool byLines = false;
  int linesShown = 0;
  std::vector<rootLine> lines;
  std::vector<rootLine> nextLines;
  u8 quit = 0;  // guarded by mutex
  u8 busy = 1;  // guarded by mutex
  std::thread thread;
  board brd;
  board* boardPtr;

 private:
  void threadLoop();
};

class boss : public worker {
 public:
  boss();
  ~boss() override;
  void search() override;

  chessMove savedBest = 0;
  chessMove savedPonder = 0;
  bool answeredAtOnce = false;  // no search: mated, stalemated or tablebase root
  bool scoreShown = false;      // an "info" line with a score went out
};

extern std::vector<worker*> threadPool;
extern std::atomic<i32> deepestDepth;
extern std::atomic<i64> elapsedMs;
extern std::atomic<u64> totalTbHits;

void start(worker& w);
void waitIdle(worker& w);
// Rebuilds the pool with n threads (0 only at shutdown); waits for a running
// search to report first. Returns the number of threads running, fewer than
// n when the system refused some (a thread or its memory).
int resizePool(int n);
// Zeroes both move-pair tables of every thread.
void clearPairHistories();
// True while the boss has work.
bool searchRunning();
// A command that must not overlap a search (resizing the table or the pool,
// loading tablebases, a new "go") ends a running one first: it sets stopFlag
// and waits until the boss has reported.
void stopSearchAndWait();
// Hands `position` to every thread and starts the boss (the pool must be
// idle). A non-empty `allowed` restricts the root to those legal moves.
// An empty pool is rebuilt with one thread; if even that is refused, the
// answer (an "info string" and the first legal move) is given at once.
void startSearch(const board& position, const std::vector<chessMove>& allowed = {});
