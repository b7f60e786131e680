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
#include "movegen/makemove.h"
#include "movegen/movegen.h"
#include "search/tt.h"

threadPool searchThreads;

namespace {
constexpr std::memory_order relaxed = std::memory_order_relaxed;
}

threadPool::searchThread::searchThread(threadPool& owner, u32 index) : pool(owner), w(index, owner.control) {
  // The loop calls a search only after wake(), which comes after every
  // constructor has finished.
  thread = std::thread(&searchThread::loop, this);
  waitIdle();
}

threadPool::searchThread::~searchThread() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    quit = true;
  }
  wake();
  if (thread.joinable()) thread.join();
}

void threadPool::searchThread::loop() {
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    busy = false;
    signal.notify_all();
    signal.wait(lock, [this] { return busy; });
    if (quit) return;
    lock.unlock();
    if (w.isBoss())
      pool.bossSearch(w);
    else
      pool.helperSearch(w);
    lock.lock();
    // Still busy while clearing: the next "go" waits for a clean table.
    while (clearAfter) {
      clearAfter = false;
      lock.unlock();
      pool.clearNow();
      lock.lock();
    }
  }
}

void threadPool::searchThread::wake() {
  std::lock_guard<std::mutex> lock(mutex);
  busy = true;
  signal.notify_all();
}

void threadPool::searchThread::waitIdle() {
  std::unique_lock<std::mutex> lock(mutex);
  signal.wait(lock, [this] { return !busy; });
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

// A thread's result, root searched whole: a finished iteration counts 2d + 1,
// an unfinished one in which a new best move was found 2d.
int worthOf(const board& b) { return 2 * b.rootDepth + b.rootDepthComplete; }

// The score that goes with the thread's move: that of its last finished
// iteration, or the one found for the move in the unfinished iteration.
int resultScore(const board& b) { return b.rootDepthComplete ? b.rootScore : b.rootMoveScore; }

// The score line of a thread's result, which starts with its own move (the
// table's root entry may hold another thread's).
void reportResult(board& b) {
  extractPv(b, std::max<int>(1, b.rootDepth), b.plies[0].bestMove);
  rootLine line;
  line.score = i16(resultScore(b));
  line.depth = i16(b.rootDepth);
  line.selDepth = b.selDepth;
  line.pvLast = b.pvLast;
  line.pvShown = b.pvShown;
  for (int k = 0; k <= b.pvLast; ++k) line.pv[k] = b.plies[k].bestMove;
  reportLine(rootLineText(line, 0, b.sideToMove, materialCount(b), &b.castling));
}

}  // namespace

void threadPool::helperSearch(worker& w) {
  if (prepareRoot(w)) deepen(w, workers_);
}

void threadPool::bossSearch(worker& w) {
  // A root that needs no search needs no helper either.
  if (prepareRoot(w)) {
    // A limited strength searches on one thread: its node cap is the whole search.
    if (control.limits.capNodes == 0)
      for (std::size_t i = 1; i < threads_.size(); ++i) threads_[i]->wake();
    deepen(w, workers_);
  }
  control.finished.store(true, relaxed);
  if (!control.stopped()) {
    while (control.unbounded() && !control.stopped()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  control.requestStop();
  for (std::size_t i = 1; i < threads_.size(); ++i) threads_[i]->waitIdle();

  worker* chosen = &w;
  board& bb = w.brd;
  // Lines are the boss's own: it printed them, and "bestmove" is the first,
  // unless another thread proved a shorter mate; that thread's lines are then
  // shown and played (every thread searched the same allowed moves). A root
  // searched whole goes to the deepest result, or to the shortest proven mate.
  const bool compared = workers_.size() != 1 && !w.answeredAtOnce && control.limits.capNodes == 0;
  if (compared && w.byLines) {
    int best = w.linesShown > 0 ? w.lines[0].score : -MATE_SCORE;
    for (worker* t : workers_)
      if (t->linesShown > 0 && t->lines[0].score >= MATE_BAND && t->lines[0].score > best) {
        chosen = t;
        best = t->lines[0].score;
      }
  } else if (compared) {
    int best = worthOf(bb), bestScore = resultScore(bb);
    for (worker* t : workers_) {
      const int worth = worthOf(t->brd), score = resultScore(t->brd);
      bool pick;
      if (score >= MATE_BAND || bestScore >= MATE_BAND)
        pick = score > bestScore || (score == bestScore && worth > best);
      else
        pick = control.limits.depthLimit == 0 && (worth == best ? score > bestScore : worth > best);
      if (pick) {
        chosen = t;
        best = worth;
        bestScore = score;
      }
    }
  }

  board& cb = chosen->brd;
  if (w.byLines) {
    if (chosen != &w)
      reportShownLines(*chosen);
    else if (!w.scoreShown && w.linesShown > 0)
      reportShownLines(w);
  } else if (chosen != &w || (compared && !cb.rootDepthComplete && cb.rootMoveScore >= MATE_BAND)) {
    // Another thread's result, or a mate the boss found in an iteration it
    // did not finish: its own move, with the score found for it.
    reportResult(cb);
  } else if (!w.scoreShown && w.finishedDepth > 0) {
    // Clients expect a score before the move, and the per-iteration lines
    // start deep. The table's variation is shown only when it begins with
    // the move about to be played.
    const chessMove searched = cb.plies[0].bestMove;
    extractPv(cb, w.finishedDepth);
    if (!sameMove(cb.plies[0].bestMove, searched)) {
      cb.plies[0].bestMove = searched;
      cb.pvLast = 0;
    }
    reportLine(scoreLine(cb.rootScore, w.finishedDepth, cb.selDepth, poolTotals(), pvText(cb),
                         lineExtras{0, wdlField(cb.rootScore, materialCount(cb))}));
  }
  chessMove bestMove = cb.plies[0].bestMove;
  // Stopped before the first root move was searched: any legal move beats
  // the empty one.
  if ((bestMove & MOVE_MASK) == 0) bestMove = w.firstRootMove;

  chessMove ponder = 0;
  if (cb.pvLast > 0 && (cb.plies[1].bestMove & MOVE_MASK) != 0)
    ponder = cb.plies[1].bestMove;
  else if (sameMove(bestMove, w.savedBest))
    ponder = w.savedPonder;
  if (!replyFits(cb, bestMove, ponder)) ponder = 0;
  answered_.store(true, relaxed);
  reportLine(bestMoveLine(bestMove, ponder, cb.sideToMove, &cb.castling));
}

void threadPool::clearHistories() {
  for (worker* w : workers_) {
    std::memset(w->pairHistory2, 0, sizeof w->pairHistory2);
    std::memset(w->pairHistory1, 0, sizeof w->pairHistory1);
  }
}

void threadPool::clearNow() {
  hashTable.clear(control.threads);
  clearHistories();
}

bool threadPool::clearTables() {
  if (!threads_.empty()) {
    searchThread& boss = *threads_[0];
    {
      std::lock_guard<std::mutex> lock(boss.mutex);
      if (boss.busy && !answered_.load(relaxed)) {
        boss.clearAfter = true;
        return false;
      }
    }
    boss.waitIdle();  // a search that has answered is over
  }
  clearNow();
  return true;
}

int threadPool::resize(int n) {
  if (!threads_.empty()) {
    threads_[0]->waitIdle();
    while (!threads_.empty()) {
      delete threads_.back();
      threads_.pop_back();
      workers_.pop_back();
    }
  }
  n = std::clamp(n, 0, 256);
  if (n > 0) {
    // The system may refuse a thread or its memory (an address-space limit,
    // for one); the engine then plays on with the threads it has.
    try {
      threads_.reserve(std::size_t(n));
      workers_.reserve(std::size_t(n));
      while (int(threads_.size()) < n) {
        threads_.push_back(nullptr);
        threads_.back() = new searchThread(*this, u32(threads_.size() - 1));
        workers_.push_back(&threads_.back()->w);
      }
    } catch (const std::exception&) {
      // the count returned tells the caller
      if (!threads_.empty() && threads_.back() == nullptr) threads_.pop_back();
    }
  }
  clearHistories();
  control.poolNodes = poolNodes;
  control.threads = std::max<int>(1, int(threads_.size()));
  return int(threads_.size());
}

bool threadPool::searchRunning() {
  if (threads_.empty()) return false;
  searchThread& b = *threads_[0];
  std::lock_guard<std::mutex> lock(b.mutex);
  return b.busy;
}

void threadPool::waitIdle() {
  if (!threads_.empty()) threads_[0]->waitIdle();
}

void threadPool::stopSearchAndWait() {
  if (threads_.empty()) return;
  if (searchRunning()) control.requestStop();
  threads_[0]->waitIdle();
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
    reportLine(bestMoveLine(allowed.empty() ? moves[0] : allowed[0], 0, b->sideToMove, &b->castling));
  }
}

}  // namespace

void threadPool::startSearch(const board& position, std::shared_ptr<const nnue::network> net,
                             const std::vector<chessMove>& allowed) {
  // A pool the system refused earlier gets one more try.
  if (threads_.empty()) resize(1);
  if (threads_.empty()) {
    answerWithoutSearch(position, allowed);
    return;
  }
  threads_[0]->waitIdle();
  readyControl(control, position);
  answered_.store(false, relaxed);
  for (worker* w : workers_) w->readyForSearch(position, net.get(), allowed);
  // Only now may the last search's net go: no board reaches it any more.
  net_ = std::move(net);
  threads_[0]->wake();
}
