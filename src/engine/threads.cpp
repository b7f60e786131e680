#include "engine/threads.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "board/attacks.h"
#include "engine/report.h"
#include "engine/root.h"
#include "engine/strength.h"
#include "movegen/makemove.h"
#include "movegen/movegen.h"
#include "search/limits.h"
#include "search/search.h"
#include "search/tt.h"

std::vector<worker*> threadPool;
std::atomic<i32> deepestDepth{0};
std::atomic<i64> elapsedMs{0};
std::atomic<u64> totalTbHits{0};

namespace {
constexpr std::memory_order relaxed = std::memory_order_relaxed;
}

worker::worker(u32 index) : threadIndex(index), brd{}, boardPtr(&brd) {
  std::memset(moveBuffer, 0, sizeof moveBuffer);
  std::memset(pairHistory2, 0, sizeof pairHistory2);
  std::memset(pairHistory1, 0, sizeof pairHistory1);
  resetThreadBoard(brd);
  brd.plies[0].listStart = moveBuffer;
  brd.contHistory2 = pairHistory2;
  brd.contHistory1 = pairHistory1;
  // The loop calls search() only after start(), which comes after every
  // constructor has finished.
  thread = std::thread(&worker::threadLoop, this);
  waitIdle(*this);
}

worker::~worker() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    quit = 1;
  }
  start(*this);
  if (thread.joinable()) thread.join();
}

void worker::search() { rootSearch(*this); }

void worker::threadLoop() {
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    busy = 0;
    wake.notify_all();
    wake.wait(lock, [this] { return busy != 0; });
    if (quit) return;
    lock.unlock();
    search();
    lock.lock();
  }
}

boss::boss() : worker(0) {}
boss::~boss() = default;

void start(worker& w) {
  std::lock_guard<std::mutex> lock(w.mutex);
  w.busy = 1;
  w.wake.notify_all();
}

void waitIdle(worker& w) {
  std::unique_lock<std::mutex> lock(w.mutex);
  w.wake.wait(lock, [&w] { return w.busy == 0; });
}

namespace {

// The reply must be playable after `best`; the search's ply-1 slot can come
// from another root move's subtree.
bool replyFits(board& b, chessMove best, chessMove& reply) {
  if ((best & MOVE_MASK) == 0 || (reply & MOVE_MASK) == 0) return false;
  const int us = b.sideToMove;
  makeMove(b, 0, best);
  bool fits = false;
  if (!kingAttacked(b, us)) {
    const chessMove m = (reply & MOVE_MASK) | (u32(b.pieceOn[moveFrom(reply) & 63]) << 24);
    fits = pvMoveFits(m, b, 1);
    if (fits) {
      makeMove(b, 1, m);
      fits = !kingAttacked(b, us ^ 1);
      unmakeMove(b, 1, m);
    }
  }
  unmakeMove(b, 0, best);
  return fits;
}

}  // namespace

void boss::search() {
  savedBest = savedPonder = 0;
  answeredAtOnce = scoreShown = false;
  rootSearch(*this);  // starts the other threads unless the root needs no search
  searchFinished.store(1, relaxed);
  if (!stopFlag.load(relaxed)) {
    while ((pondering.load(relaxed) || infiniteMode.load(relaxed)) && !stopFlag.load(relaxed))
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  stopFlag.store(1, relaxed);
  for (std::size_t i = 1; i < threadPool.size(); ++i) waitIdle(*threadPool[i]);

  worker* chosen = this;
  // Lines are the boss's own: it printed them, and "bestmove" is the first.
  if (threadPool.size() != 1 && limits.depthLimit == 0 && !answeredAtOnce && !byLines && !activePlan.on) {
    int best = 2 * brd.rootDepth + brd.rootDepthComplete;
    for (worker* t : threadPool) {
      const board& tb = t->brd;
      const int worth = 2 * tb.rootDepth + tb.rootDepthComplete;
      const bool pick = (worth == best || tb.rootScore >= MATE_BAND) ? tb.rootScore > chosen->brd.rootScore
                                                                      : worth > best;
      if (pick) {
        chosen = t;
        best = worth;
      }
    }
  }

  board& cb = chosen->brd;
  if (chosen != this) {
    extractPv(cb, cb.rootDepth);
    reportLine(centipawnLine(cb.rootScore, cb.rootDepth, cb.selDepth, poolTotals(), pvText(cb),
                             lineExtras{0, wdlField(cb.rootScore, materialCount(cb))}));
  } else if (!scoreShown && finishedDepth > 0 && byLines) {
    reportShownLines(*this);
  } else if (!scoreShown && finishedDepth > 0) {
    // Clients expect a score before the move, and the per-iteration lines
    // start deep. The table's variation is shown only when it begins with
    // the move about to be played.
    const chessMove searched = cb.plies[0].bestMove;
    extractPv(cb, finishedDepth);
    if (!sameMove(cb.plies[0].bestMove, searched)) {
      cb.plies[0].bestMove = searched;
      cb.pvLast = 0;
    }
    reportLine(centipawnLine(cb.rootScore, finishedDepth, cb.selDepth, poolTotals(), pvText(cb),
                             lineExtras{0, wdlField(cb.rootScore, materialCount(cb))}));
  }
  chessMove bestMove = cb.plies[0].bestMove;
  // Stopped before the first root move was searched: any legal move beats
  // the empty one.
  if ((bestMove & MOVE_MASK) == 0) bestMove = firstRootMove;

  chessMove ponder = 0;
  if (cb.pvLast > 0 && (cb.plies[1].bestMove & MOVE_MASK) != 0)
    ponder = cb.plies[1].bestMove;
  else if (sameMove(bestMove, savedBest))
    ponder = savedPonder;
  if (!replyFits(cb, bestMove, ponder)) ponder = 0;
  reportLine(bestMoveLine(bestMove, ponder, cb.sideToMove));
}

void clearPairHistories() {
  for (worker* w : threadPool) {
    std::memset(w->pairHistory2, 0, sizeof w->pairHistory2);
    std::memset(w->pairHistory1, 0, sizeof w->pairHistory1);
  }
}

int resizePool(int n) {
  if (!threadPool.empty()) {
    waitIdle(*threadPool[0]);
    while (!threadPool.empty()) {
      delete threadPool.back();
      threadPool.pop_back();
    }
  }
  n = std::clamp(n, 0, 256);
  if (n > 0) {
    // The system may refuse a thread or its memory (an address-space limit,
    // for one); the engine then plays on with the threads it has.
    try {
      threadPool.reserve(std::size_t(n));
      if (threadPool.empty()) threadPool.push_back(new boss());
      while (int(threadPool.size()) < n) threadPool.push_back(new worker(u32(threadPool.size())));
    } catch (const std::exception&) {
      // the count returned tells the caller
    }
  }
  clearPairHistories();
  searchPool.nodes = poolNodes;
  searchPool.threads = std::max<int>(1, int(threadPool.size()));
  return int(threadPool.size());
}

bool searchRunning() {
  if (threadPool.empty()) return false;
  worker& b = *threadPool[0];
  std::lock_guard<std::mutex> lock(b.mutex);
  return b.busy != 0;
}

void stopSearchAndWait() {
  if (threadPool.empty()) return;
  if (searchRunning()) stopFlag.store(1, relaxed);
  waitIdle(*threadPool[0]);
}

namespace {

// No thread to search with: "go" is still answered, at once, with the first
// legal move (the first allowed one under "searchmoves"), or the answer of a
// root without moves, so no client waits.
void answerWithoutSearch(const board& position, const std::vector<chessMove>& allowed) {
  reportLine("info string no search thread could be started: playing the first legal move without a search");
  auto b = std::make_unique<board>(position);
  auto moves = std::make_unique<chessMove[]>(MOVE_BUFFER_SIZE);
  b->plies[0].listStart = moves.get();
  generateLegal(0, moves.get(), *b);
  if (b->plies[0].listEnd == b->plies[0].listStart) {
    reportLine(b->plies[0].inCheck ? MATED_ROOT_LINE : STALEMATE_ROOT_LINE);
    reportLine(bestMoveLine(0, 0, b->sideToMove));
  } else {
    reportLine(bestMoveLine(allowed.empty() ? moves[0] : allowed[0], 0, b->sideToMove));
  }
}

}  // namespace

void startSearch(const board& position, const std::vector<chessMove>& allowed) {
  // A pool the system refused earlier gets one more try.
  if (threadPool.empty()) resizePool(1);
  if (threadPool.empty()) {
    answerWithoutSearch(position, allowed);
    return;
  }
  waitIdle(*threadPool[0]);
  stopFlag.store(0, relaxed);
  searchFinished.store(0, relaxed);
  deepestDepth.store(0, relaxed);
  elapsedMs.store(0, relaxed);
  newSearchGeneration();
  for (worker* w : threadPool) {
    board& b = w->brd;
    std::memcpy(static_cast<void*>(&b), &position, sizeof(board));
    b.plies[0].listStart = w->moveBuffer;
    b.contHistory2 = w->pairHistory2;
    b.contHistory1 = w->pairHistory1;
    b.nodes = b.qNodes = b.tbHits = 0;
    b.selDepth = 0;
    b.pvLast = 0;
    trimKeyHistory(b);
    w->currentDepth.store(0, relaxed);
    w->firstRootMove = 0;
    w->rootAllowed = allowed;
    // Room for the lines before the search starts: the search allocates nothing.
    const std::size_t lineRoom = std::size_t(std::clamp(multiPvLines.load(relaxed), 1, MAX_ROOT_MOVES));
    if (w->lines.size() < lineRoom) {
      w->lines.resize(lineRoom);
      w->nextLines.resize(lineRoom);
    }
  }
  start(*threadPool[0]);
}
