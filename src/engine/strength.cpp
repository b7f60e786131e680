#include "engine/strength.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

// Nodes per move at a rating, measured in games against a reference engine
// at the same rating setting (bench/elo-calibration.sh, the table in docs/uci.md);
// between two rows the node count grows geometrically. Above the measured
// rows the count goes on at the slope of the last measured pair: at fast
// controls the clock, not the cap, then ends the search.
struct anchor {
  int elo;
  double nodes;
};
constexpr anchor ANCHORS[] = {
    {1350, 280}, {1400, 390}, {1800, 7000}, {2200, 1600000}, {2600, 83000000}, {2850, 1000000000},
};

}  // namespace

u64 nodeCapForElo(int elo) {
  elo = std::clamp(elo, STRENGTH_ELO_MIN, STRENGTH_ELO_MAX);
  std::size_t i = 1;
  while (i + 1 < std::size(ANCHORS) && ANCHORS[i].elo < elo) ++i;
  const anchor& lo = ANCHORS[i - 1];
  const anchor& hi = ANCHORS[i];
  const double t = double(elo - lo.elo) / double(hi.elo - lo.elo);
  return u64(std::llround(lo.nodes * std::pow(hi.nodes / lo.nodes, t)));
}
