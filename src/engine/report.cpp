#include "engine/report.h"

#include <algorithm>
#include <cmath>
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
  for (const worker* w : searchThreads.workers()) nodes += relaxedLoad(w->brd.nodes) + relaxedLoad(w->brd.qNodes);
  return nodes;
}

searchTotals poolTotals() {
  const u64 nodes = poolNodes();
  u64 tbHits = 0;
  for (const worker* w : searchThreads.workers()) tbHits += relaxedLoad(w->brd.tbHits);
  std::atomic<i64>& elapsedMs = searchThreads.control.elapsedMs;
  i64 elapsed = elapsedMs.load(std::memory_order_relaxed);
  if (elapsed <= 0) {
    elapsed = 1;
    elapsedMs.store(1, std::memory_order_relaxed);
  }
  return makeTotals(nodes, elapsed, tbHits);
}

std::string pvTextOf(const chessMove* moves, int count, int side, const castlingSetup* setup) {
  std::string text;
  for (int k = 0; k < count; ++k) {
    text += moveText(moves[k], side, setup);
    text += ' ';
    side ^= 1;
  }
  return text;
}

std::string pvText(const board& b) {
  const int count = b.pvShown != 0 ? std::min(b.pvShown, u8(b.pvLast + 1)) : b.pvLast + 1;
  chessMove moves[PLY_RECORDS];
  for (int k = 0; k < count; ++k) moves[k] = b.plies[k].bestMove;
  return pvTextOf(moves, count, b.sideToMove, &b.castling);
}


int materialCount(const board& b) {
  int m = 0;
  for (int side = 0; side < 2; ++side)
    m += popCount(b.pieceBB[WHITE_PAWN + side]) + 3 * popCount(b.pieceBB[WHITE_KNIGHT + side]) +
         3 * popCount(b.pieceBB[WHITE_BISHOP + side]) + 5 * popCount(b.pieceBB[WHITE_ROOK + side]) +
         9 * popCount(b.pieceBB[WHITE_QUEEN + side]);
  return m;
}

namespace {

// Fitted by bench/wdl-fit.py on positions of the engine's own games (see
// docs/uci.md): the chance of a win is 1 / (1 + exp((a - score) / s)) and that of
// a loss the same with -score, where a and s follow the material m left,
// clamped to 10..78, as a = A0 + A1 * m / 58 and s = S0 + S1 * m / 58.
constexpr double WDL_A0 = 164.6, WDL_A1 = -63.8;
constexpr double WDL_S0 = 86.5, WDL_S1 = 5.5;
// Tablebase results lie just below the mate band (the band less the plies
// or the distance to zeroing).
constexpr int TABLEBASE_RESULT = MATE_BAND - 2000;

}  // namespace

wdlChances wdlFromScore(int score, int material) {
  wdlChances c;
  if (score >= TABLEBASE_RESULT) {
    c.win = 1000;
  } else if (score <= -TABLEBASE_RESULT) {
    c.loss = 1000;
  } else {
    const double m = std::clamp(material, 10, 78) / 58.0;
    const double a = WDL_A0 + WDL_A1 * m, s = WDL_S0 + WDL_S1 * m;
    const auto chance = [&](double x) { return 1.0 / (1.0 + std::exp((a - x) / s)); };
    c.win = int(std::lround(1000.0 * chance(score)));
    c.loss = int(std::lround(1000.0 * chance(-score)));
    c.win = std::min(c.win, 1000 - c.loss);
  }
  c.draw = 1000 - c.win - c.loss;
  return c;
}

std::string wdlField(const wdlChances& c) {
  return " wdl " + std::to_string(c.win) + " " + std::to_string(c.draw) + " " + std::to_string(c.loss);
}

bool drawnByMaterial(const board& b) {
  constexpr u64 DARK_SQUARES = 0xAA55AA55AA55AA55ull;
  const u64 minors = b.pieceBB[WHITE_KNIGHT] | b.pieceBB[BLACK_KNIGHT] | b.pieceBB[WHITE_BISHOP] | b.pieceBB[BLACK_BISHOP];
  const u64 others = occupancy(b) & ~(minors | b.pieceBB[WHITE_KING] | b.pieceBB[BLACK_KING]);
  if (others != 0) return false;
  if (popCount(minors) <= 1) return true;
  // A king in check from bishops of one colour stands on that colour; at
  // least two of its neighbours are of the other, and only the other king
  // can guard one of them.
  const u64 bishops = b.pieceBB[WHITE_BISHOP] | b.pieceBB[BLACK_BISHOP];
  return bishops == minors && ((bishops & DARK_SQUARES) == 0 || (bishops & ~DARK_SQUARES) == 0);
}

std::string wdlField(int score, int material) {
  const searchControl& ctl = searchThreads.control;
  if (!ctl.showWdl) return std::string();
  return wdlField(ctl.rootDrawn ? wdlChances{0, 1000, 0} : wdlFromScore(score, material));
}

int mateMoves(int score) {
  const int plies = MATE_SCORE - (score < 0 ? -score : score);
  const int moves = (plies + 1) / 2;
  return score < 0 ? -moves : moves;
}

namespace {
std::string multiPvField(const lineExtras& x) {
  return x.multiPv > 0 ? " multipv " + std::to_string(x.multiPv) : std::string();
}
}  // namespace

std::string centipawnLine(int score, int depth, int selDepth, const searchTotals& t, const std::string& pv,
                          const lineExtras& x) {
  return "info score cp " + std::to_string(i16(score)) + x.wdl + " depth " + std::to_string(depth) + " seldepth " +
         std::to_string(selDepth) + multiPvField(x) + " nodes " + std::to_string(t.nodes) + " nps " +
         std::to_string(t.nps) + " time " + std::to_string(t.time) + " tbhits " + std::to_string(t.tbHits) + " pv " +
         pv;
}

std::string mateLine(int score, int depth, const searchTotals& t, const std::string& pv, const lineExtras& x) {
  return "info score mate " + std::to_string(mateMoves(score)) + x.wdl + " depth " + std::to_string(depth) +
         multiPvField(x) + " nodes " + std::to_string(t.nodes) + " nps " + std::to_string(t.nps) + " time " +
         std::to_string(t.time) + " tbhits " + std::to_string(t.tbHits) + " pv " + pv;
}

std::string scoreLine(int score, int depth, int selDepth, const searchTotals& t, const std::string& pv,
                      const lineExtras& x) {
  return score >= MATE_BAND || score <= -MATE_BAND ? mateLine(score, depth, t, pv, x)
                                                   : centipawnLine(score, depth, selDepth, t, pv, x);
}

std::string tablebaseRootLine(int score, chessMove m, int side, const std::string& wdl) {
  return "info score cp " + std::to_string(i16(score)) + wdl + " depth 127 seldepth 127 nodes 1 tbhits 1 time 1 pv " +
         moveText(m, side);
}

std::string bestMoveLine(chessMove best, chessMove ponder, int side, const castlingSetup* setup) {
  std::string line = "bestmove " + moveText(best, side, setup);
  if ((ponder & MOVE_MASK) != 0) line += " ponder " + moveText(ponder, side ^ 1, setup);
  return line;
}
