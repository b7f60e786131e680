#include "engine/report.h"

#include <utility>

#include "engine/threads.h"
#include "movegen/movetext.h"

namespace {
u64 relaxedLoad(const u64& v) { return __atomic_load_n(&v, __ATOMIC_RELAXED); }
textSink reportSink;
}  // namespace

void setReportSink(textSink sink) { reportSink = std::move(sink); }

void reportLine(const std::string& line) {
  if (reportSink) reportSink(line + "\n");
}

searchTotals makeTotals(u64 nodes, i64 elapsed, u64 tbHits) {
  searchTotals t;
  t.nodes = nodes;
  t.tbHits = tbHits;
  t.time = elapsed > 0 ? u64(elapsed) : 1;
  t.nps = nodes * 1000 / t.time;
  return t;
}

u64 poolNodes() {
  u64 nodes = 0;
  for (const worker* w : threadPool) nodes += relaxedLoad(w->brd.nodes) + relaxedLoad(w->brd.qNodes);
  return nodes;
}

searchTotals poolTotals() {
  const u64 nodes = poolNodes();
  u64 tbHits = 0;
  for (const worker* w : threadPool) tbHits += relaxedLoad(w->brd.tbHits);
  totalTbHits.store(tbHits, std::memory_order_relaxed);
  i64 elapsed = elapsedMs.load(std::memory_order_relaxed);
  if (elapsed <= 0) {
    elapsed = 1;
    elapsedMs.store(1, std::memory_order_relaxed);
  }
  return makeTotals(nodes, elapsed, tbHits);
}

std::string pvText(const board& b) {
  std::string text;
  int side = b.sideToMove;
  for (int k = 0; k <= b.pvLast; ++k) {
    text += moveText(b.plies[k].bestMove, side, &b.castling);
    text += ' ';
    side ^= 1;
  }
  return text;
}

int mateMoves(int score) {
  const int plies = MATE_SCORE - (score < 0 ? -score : score);
  const int moves = (plies + 1) / 2;
  return score < 0 ? -moves : moves;
}

std::string centipawnLine(int score, int depth, int selDepth, const searchTotals& t, const std::string& pv) {
  return "info score cp " + std::to_string(i16(score)) + " depth " + std::to_string(depth) + " seldepth " +
         std::to_string(selDepth) + " nodes " + std::to_string(t.nodes) + " nps " + std::to_string(t.nps) +
         " time " + std::to_string(t.time) + " tbhits " + std::to_string(t.tbHits) + " pv " + pv;
}

std::string mateLine(int score, int depth, const searchTotals& t, const std::string& pv) {
  return "info score mate " + std::to_string(mateMoves(score)) + " depth " + std::to_string(depth) + " nodes " +
         std::to_string(t.nodes) + " nps " + std::to_string(t.nps) + " time " + std::to_string(t.time) +
         " tbhits " + std::to_string(t.tbHits) + " pv " + pv;
}

std::string tablebaseRootLine(int score, chessMove m, int side) {
  return "info score cp " + std::to_string(i16(score)) + " depth 127 seldepth 127 nodes 1 tbhits 1 time 1 pv " +
         moveText(m, side);
}

std::string bestMoveLine(chessMove best, chessMove ponder, int side, const castlingSetup* setup) {
  std::string line = "bestmove " + moveText(best, side, setup);
  if ((ponder & MOVE_MASK) != 0) line += " ponder " + moveText(ponder, side ^ 1, setup);
  return line;
}
