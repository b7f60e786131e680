#pragma once
// The search control: what bounds one search and steers it while it runs.
// The engine layer owns the one instance, hands it to every search thread by
// reference, and each thread's board points at it, so the search reaches it
// from any node. The flags are relaxed atomics: plain byte moves on x86-64,
// but no data race between the command thread and the search threads.

#include <atomic>

#include "board/types.h"

// The limits of one "go".
struct searchLimits {
  i32 clock[2] = {900000, 900000};
  i32 increment[2] = {0, 0};
  i32 movesToGo = 30;
  bool movesToGoGiven = false;
  i32 depthLimit = 0;
  i32 mate = 0;
  u64 nodes = 0;
  i32 moveTime = 0;
  // A node cap that pondering and infinite analysis do not lift: there the
  // search holds at the cap until "ponderhit" or "stop" (0: none).
  u64 capNodes = 0;
  // No new iteration once the nodes have passed this (0: none); the data
  // generator's searches, which depend on node counts only.
  u64 softNodes = 0;
};

// Nodes between two looks at the clock.
constexpr i32 CLOCK_CHECK_NODES = 4096;

struct searchControl {
  searchLimits limits;

  // Raised to end the search: by the clock or a node limit inside the
  // search, by the root when its limits are reached, by "stop".
  std::atomic<bool> stop{false};
  // "go ponder" until "ponderhit"; "go infinite" until "stop": no clock, no
  // node limit, and the answer waits.
  std::atomic<bool> pondering{false};
  std::atomic<bool> infinite{false};
  // No new iteration: the root has decided it is done (or was answered at once).
  std::atomic<bool> finished{false};

  // Clocks and budgets in milliseconds: the start of "go", the soft budget
  // (no new iteration after it) and the hard one (stop mid-iteration).
  std::atomic<i64> startMs{0};
  std::atomic<i32> softTime{0};
  std::atomic<i32> hardTime{0};
  // Elapsed time counts this much against the soft budget (short clocks).
  float elapsedScale = 1.0f;
  // Time since the start as the root last read it; the deepest iteration a
  // helper thread finished past its minimum time.
  std::atomic<i64> elapsedMs{0};
  std::atomic<i32> deepestDepth{0};

  // Options the next search reads: "MultiPV" lines and "UCI_ShowWDL".
  std::atomic<int> multiPv{1};
  std::atomic<bool> showWdl{false};

  // "go nodes" counts the nodes of every search thread: the thread pool
  // installs the counter and keeps the number of threads current.
  u64 (*poolNodes)() = nullptr;
  int threads = 1;

  void requestStop() { stop.store(true, std::memory_order_relaxed); }
  bool stopped() const { return stop.load(std::memory_order_relaxed); }
  // Pondering and infinite analysis run until the GUI ends them.
  bool unbounded() const {
    return infinite.load(std::memory_order_relaxed) || pondering.load(std::memory_order_relaxed);
  }
};
