#include "engine/fixedsearch.h"

#include <time.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "board/clock.h"
#include "engine/root.h"
#include "search/search.h"
#include "search/tt.h"

namespace {

constexpr std::memory_order relaxed = std::memory_order_relaxed;

u64 threadCpuNs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return u64(t.tv_sec) * 1000000000ull + u64(t.tv_nsec);
}

// The control counts the nodes of its pool through a plain function; a fixed
// search's pool is the one board it searches on, on this thread.
thread_local const board* countedBoard = nullptr;
u64 countedNodes() { return countedBoard ? countedBoard->nodes + countedBoard->qNodes : 0; }

}  // namespace

void setUnclockedLimits(searchControl& ctl, const searchLimits& limits) {
  ctl.limits = limits;
  ctl.infinite.store(false, relaxed);
  ctl.pondering.store(false, relaxed);
  // No clock may end these searches: their nodes must not depend on speed.
  ctl.softTime.store(INT32_MAX, relaxed);
  ctl.hardTime.store(INT32_MAX, relaxed);
  ctl.elapsedScale = 1.0f;
  ctl.startMs.store(nowMs(), relaxed);
}

fixedSearcher::fixedSearcher() : worker_(std::make_unique<worker>(0, control_)) {
  control_.multiPv = 1;
  control_.showWdl = false;
  control_.poolNodes = countedNodes;
  control_.threads = 1;
}

fixedSearcher::~fixedSearcher() {
  if (countedBoard == &worker_->brd) countedBoard = nullptr;
}

void fixedSearcher::newGame() {
  hashTable.clear(1);
  std::memset(worker_->pairHistory2, 0, sizeof worker_->pairHistory2);
  std::memset(worker_->pairHistory1, 0, sizeof worker_->pairHistory1);
}

fixedSearcher::result fixedSearcher::search(const board& position, u64 softNodes, u64 hardNodes,
                                            const nnue::network* net) {
  const u64 started = threadCpuNs();
  searchLimits limits;
  // The cap waits for a first finished iteration, so every move comes from a search.
  limits.capNodes = std::max<u64>(hardNodes, 1);
  limits.softNodes = std::max<u64>(softNodes, 1);
  setUnclockedLimits(control_, limits);
  readyControl(control_, position);
  worker& w = *worker_;
  w.readyForSearch(position, net, {});
  board& b = w.brd;
  countedBoard = &b;
  worker* const pool[1] = {&w};
  if (prepareRoot(w)) deepen(w, pool);

  result r;
  r.move = (b.plies[0].bestMove & MOVE_MASK) ? b.plies[0].bestMove : w.firstRootMove;
  // A root answered without a search is labelled by the evaluation in use.
  r.score = b.rootScore == NO_EVAL ? staticEvaluation(b, 0) : b.rootScore;
  r.nodes = b.nodes + b.qNodes;
  cpuNs_ += threadCpuNs() - started;
  return r;
}
