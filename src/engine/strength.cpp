#include "engine/strength.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>

#include "board/board.h"
#include "engine/threads.h"

std::atomic<bool> limitStrength{false};
std::atomic<int> strengthElo{STRENGTH_ELO_DEFAULT};
strengthPlan activePlan;

namespace {

// The scale, fitted against a reference engine's own rating setting (see the
// README's calibration table). Nodes double every NODES_DOUBLING_ELO points
// from NODES_AT_MIN at the lowest rating. Below NOISE_TOP_ELO the move is
// drawn from ROOT_CHOICES lines, within a margin growing linearly to
// MARGIN_AT_MIN at the lowest rating.
constexpr double NODES_AT_MIN = 200;
constexpr double NODES_DOUBLING_ELO = 110;
constexpr int NOISE_TOP_ELO = 2000;
constexpr int MARGIN_AT_MIN = 150;
constexpr int ROOT_CHOICES = 4;

std::mt19937_64& chance() {
  // Seeded from the clock: two games at one rating should not be the same game.
  static std::mt19937_64 rng(u64(std::chrono::steady_clock::now().time_since_epoch().count()));
  return rng;
}

}  // namespace

strengthPlan planForElo(int elo) {
  elo = std::clamp(elo, STRENGTH_ELO_MIN, STRENGTH_ELO_MAX);
  strengthPlan p;
  p.on = true;
  p.nodes = u64(std::llround(NODES_AT_MIN * std::exp2(double(elo - STRENGTH_ELO_MIN) / NODES_DOUBLING_ELO)));
  if (elo < NOISE_TOP_ELO) {
    p.lines = ROOT_CHOICES;
    p.marginCp = MARGIN_AT_MIN * (NOISE_TOP_ELO - elo) / (NOISE_TOP_ELO - STRENGTH_ELO_MIN);
  }
  return p;
}

u64 beginStrengthSearch() {
  activePlan = limitStrength.load(std::memory_order_relaxed)
                   ? planForElo(strengthElo.load(std::memory_order_relaxed))
                   : strengthPlan{};
  return activePlan.nodes;
}

int pickLine(const std::vector<rootLine>& lines, int count, const strengthPlan& plan) {
  count = std::min<int>(count, int(lines.size()));
  if (count <= 1 || plan.marginCp <= 0) return 0;
  const int best = lines[0].score;
  if (best >= MATE_BAND || best <= -MATE_BAND) return 0;  // a mate is played, or fought, as found
  // Weight margin + 1 - loss: the best line is always the likeliest, a line
  // at the edge of the margin barely possible.
  int weights[ROOT_CHOICES * 64] = {};
  int total = 0, n = 0;
  for (; n < count && n < int(std::size(weights)); ++n) {
    const int loss = best - lines[std::size_t(n)].score;
    if (loss > plan.marginCp) break;
    weights[n] = plan.marginCp + 1 - loss;
    total += weights[n];
  }
  if (n <= 1) return 0;
  int r = int(chance()() % u64(total));
  for (int k = 0; k < n; ++k) {
    if (r < weights[k]) return k;
    r -= weights[k];
  }
  return 0;
}
