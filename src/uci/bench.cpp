// "bench": a fixed-depth, single-threaded search over built-in positions with
// a fresh table of fixed size. The node total is the search's signature: any
// change to what the search does shows up in it.

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

#include "board/decimal.h"
#include "engine/fixedsearch.h"
#include "engine/threads.h"
#include "movegen/setup.h"
#include "search/limits.h"
#include "search/tt.h"
#include "tablebase/tbprobe.h"
#include "uci/commands.h"
#include "uci/go.h"
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
  // "bench [nnue] [depth]": searches with the evaluation "UseNNUE" chose; the
  // word "nnue" takes the network (the net "EvalFile" chose) whatever it says.
  i64 depth = BENCH_DEPTH;
  bool withNet = game.nets.use, depthRead = false;
  std::string word;
  while (words >> word) {
    if (word == "nnue") {
      withNet = true;
    } else if (!depthRead) {
      depthRead = true;
      if (!readDecimalIn(word, 1, 64, depth)) depth = BENCH_DEPTH;
    }
  }

  searchThreads.stopSearchAndWait();
  const bool savedUse = game.nets.use;
  game.nets.use = withNet;
  const std::shared_ptr<const nnue::network> net = takeNetForSearch();
  game.nets.use = savedUse;
  const int savedThreads = int(searchThreads.size());
  const i32 savedHash = hashTable.megabytes();
  resizeThreads(1);
  resizeHash(BENCH_HASH_MB);
  // Loaded tablebases would change the count; the bench searches without them.
  const int savedTbLargest = tbInfo.largest;
  tbInfo.largest = 0;

  auto position = std::make_unique<board>();
  u64 nodes = 0;
  // Only the searches are timed: clearing the table and the histories for
  // each position is set-up, as is the start-up of the program.
  std::chrono::steady_clock::duration searching{};
  for (const char* fen : BENCH_POSITIONS) {
    *position = board{};
    position->plies[0].listStart = commandMoveBuffer;
    if (!setFromFen(fen, *position)) continue;
    hashTable.clear(searchThreads.control.threads);
    searchThreads.clearHistories();
    searchControl& ctl = searchThreads.control;
    searchLimits limits;
    limits.depthLimit = i32(depth);
    // No clock may end a bench search: the count must not depend on speed.
    setUnclockedLimits(ctl, limits);
    ctl.multiPv = game.multiPv;
    ctl.showWdl = game.showWdl;
    const auto searchStart = std::chrono::steady_clock::now();
    searchThreads.startSearch(*position, net);
    searchThreads.waitIdle();
    searching += std::chrono::steady_clock::now() - searchStart;
    const board& done = searchThreads.workers()[0]->brd;
    nodes += done.nodes + done.qNodes;
  }
  const i64 elapsedUs =
      std::max<i64>(1, std::chrono::duration_cast<std::chrono::microseconds>(searching).count());

  tbInfo.largest = savedTbLargest;
  resizeHash(savedHash);
  resizeThreads(savedThreads > 0 ? savedThreads : DEFAULT_THREADS);
  outLine(std::to_string(nodes) + " nodes " + std::to_string(nodes * 1000000 / u64(elapsedUs)) + " nps");
}
