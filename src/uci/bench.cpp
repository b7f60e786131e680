// "bench": a fixed-depth, single-threaded search over built-in positions with
// a fresh table of fixed size. The node total is the search's signature: any
// change to what the search does shows up in it.

#include <algorithm>
#include <chrono>
#include <climits>
#include <memory>
#include <string>

#include "board/clock.h"
#include "board/decimal.h"
#include "engine/strength.h"
#include "engine/threads.h"
#include "movegen/setup.h"
#include "search/limits.h"
#include "search/tt.h"
#include "tablebase/tbprobe.h"
#include "uci/commands.h"
#include "uci/options.h"
#include "uci/output.h"

namespace {

constexpr int BENCH_DEPTH = 12;
constexpr int BENCH_HASH_MB = 16;

const char* const BENCH_POSITIONS[] = {
#include "uci/bench_positions.inc"
};

}  // namespace

void benchCommand(std::istringstream& words) {
  i64 depth = BENCH_DEPTH;
  std::string word;
  if (words >> word && !readDecimalIn(word, 1, 64, depth)) depth = BENCH_DEPTH;

  stopSearchAndWait();
  const int savedThreads = int(threadPool.size());
  resizeThreads(1);
  resizeHash(BENCH_HASH_MB);
  // Loaded tablebases would change the count; the bench searches without them.
  const int savedTbLargest = tbLargest;
  tbLargest = 0;

  auto position = std::make_unique<board>();
  u64 nodes = 0;
  // Only the searches are timed: clearing the table and the histories for
  // each position is set-up, as is the start-up of the program.
  std::chrono::steady_clock::duration searching{};
  for (const char* fen : BENCH_POSITIONS) {
    *position = board{};
    position->plies[0].listStart = commandMoveBuffer;
    if (!setFromFen(fen, *position)) continue;
    hashClear(threadCount);
    clearPairHistories();
    limits = searchLimits{};
    activePlan = strengthPlan{};  // the bench plays at full strength
    limits.depthLimit = i32(depth);
    infiniteMode.store(0);
    pondering.store(0);
    // No clock may end a bench search: the count must not depend on speed.
    softTime.store(INT32_MAX);
    hardTime.store(INT32_MAX);
    elapsedScale = 1.0f;
    clockCheckInterval = CLOCK_CHECK_NODES;
    searchStartMs.store(nowMs());
    const auto searchStart = std::chrono::steady_clock::now();
    startSearch(*position);
    waitIdle(*threadPool[0]);
    searching += std::chrono::steady_clock::now() - searchStart;
    const board& done = threadPool[0]->brd;
    nodes += done.nodes + done.qNodes;
  }
  const i64 elapsedUs =
      std::max<i64>(1, std::chrono::duration_cast<std::chrono::microseconds>(searching).count());

  tbLargest = savedTbLargest;
  resizeHash(hashMegabytes);
  resizeThreads(savedThreads > 0 ? savedThreads : threadCount);
  outLine(std::to_string(nodes) + " nodes " + std::to_string(nodes * 1000000 / u64(elapsedUs)) + " nps");
}
