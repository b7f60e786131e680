#pragma once
// Searches that only their limits end, never the clock: "bench" runs the
// thread pool so, and the data generator searches each position of its games
// to a number of nodes on the calling thread, so that a game depends on the
// node counts alone.

#include <memory>

#include "board/board.h"
#include "search/limits.h"

class worker;
namespace nnue {
struct network;
}

// Sets `ctl` for a search that `limits` alone end (or "stop"): no clock, no
// pondering, no infinite analysis; its start is now.
void setUnclockedLimits(searchControl& ctl, const searchLimits& limits);

// A search of one position to a number of nodes, on the calling thread with
// the process's table, silently (the caller has pointed the report sink
// elsewhere).
class fixedSearcher {
 public:
  fixedSearcher();
  ~fixedSearcher();
  fixedSearcher(const fixedSearcher&) = delete;
  fixedSearcher& operator=(const fixedSearcher&) = delete;
  // A new game: the table and the histories cleared.
  void newGame();
  struct result {
    chessMove move = 0;
    int score = 0;  // for the side to move
    u64 nodes = 0;
  };
  // No new iteration after `softNodes`; stopped at `hardNodes` once an
  // iteration is finished. Evaluates with `net` (null: the hand-written
  // evaluation), read during the call only.
  result search(const board& position, u64 softNodes, u64 hardNodes, const nnue::network* net);
  // CPU time this thread has spent in search() so far, in nanoseconds.
  u64 searchCpuNs() const { return cpuNs_; }

 private:
  u64 cpuNs_ = 0;
  searchControl control_;
  std::unique_ptr<worker> worker_;
};
