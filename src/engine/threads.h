#pragma once
// The search thread pool: it owns the search control and one worker per
// thread, each asleep until it is given work. Worker 0 is the boss: it starts
// the others, searches itself, collects the results and prints "bestmove".

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "board/board.h"
#include "engine/root.h"
#include "search/limits.h"

class threadPool {
 public:
  // The one control every search thread obeys.
  searchControl control;

  // Rebuilds the pool with n threads (0 only at shutdown); waits for a running
  // search to report first. Returns the number of threads running, fewer than
  // n when the system refused some (a thread or its memory).
  int resize(int n);
  // Zeroes both move-pair tables of every thread.
  void clearHistories();
  // Clears the table and the move-pair tables: at once when no search runs
  // (true), else right after the running search has reported (false), so
  // that an analysis or a ponder search is not ended by it.
  bool clearTables();
  // True while the boss has work.
  bool searchRunning();
  // Waits until the boss has reported (nothing to wait for when idle).
  void waitIdle();
  // A command that must not overlap a search (resizing the table or the pool,
  // loading tablebases, a new "go") ends a running one first: it raises the
  // stop flag and waits until the boss has reported.
  void stopSearchAndWait();
  // Hands `position` to every thread and starts the boss (the pool must be
  // idle). The threads evaluate with `net` (null: the hand-written
  // evaluation); the pool keeps its share of it until the next search has
  // pointed the threads' accumulators elsewhere. A non-empty `allowed`
  // restricts the root to those legal moves. An empty pool is rebuilt with
  // one thread; if even that is refused, the answer (an "info string" and
  // the first legal move) is given at once.
  void startSearch(const board& position, std::shared_ptr<const nnue::network> net,
                   const std::vector<chessMove>& allowed = {});

  const std::vector<worker*>& workers() const { return workers_; }
  std::size_t size() const { return workers_.size(); }

 private:
  // A worker and the thread that runs it.
  struct searchThread {
    searchThread(threadPool& pool, u32 index);
    ~searchThread();
    void loop();
    void wake();
    void waitIdle();

    threadPool& pool;
    worker w;
    std::mutex mutex;
    std::condition_variable signal;
    bool quit = false;        // guarded by mutex
    bool busy = true;         // guarded by mutex
    bool clearAfter = false;  // guarded by mutex: clearTables() waits for this search
    std::thread thread;
  };

  void clearNow();
  void bossSearch(worker& w);
  void helperSearch(worker& w);

  std::vector<searchThread*> threads_;
  std::vector<worker*> workers_;  // the threads' workers, in the same order
  // The boss is about to print, or has printed, this search's "bestmove".
  std::atomic<bool> answered_{false};
  // The net of the last search, which the workers' accumulators may point
  // at; replaced only while the pool is idle.
  std::shared_ptr<const nnue::network> net_;
};

// The engine's pool, created with the program.
extern threadPool searchThreads;
