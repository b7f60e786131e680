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
// The hand-written evaluation's.
constexpr anchor HAND_ANCHORS[] = {
    {1350, 280}, {1400, 390}, {1800, 7000}, {2200, 1600000}, {2600, 83000000}, {2850, 1000000000},
};
// The network's: it plays stronger at a given count, so each rating gets its
// own count. Until measured with the net, the hand-written counts.
constexpr anchor NET_ANCHORS[] = {
    {1350, 280}, {1400, 390}, {1800, 7000}, {2200, 1600000}, {2600, 83000000}, {2850, 1000000000},
};
static_assert(std::size(HAND_ANCHORS) == std::size(NET_ANCHORS));

}  // namespace

u64 nodeCapForElo(int elo, bool network) {
  const anchor* anchors = network ? NET_ANCHORS : HAND_ANCHORS;
  const std::size_t count = std::size(HAND_ANCHORS);
  elo = std::clamp(elo, STRENGTH_ELO_MIN, STRENGTH_ELO_MAX);
  std::size_t i = 1;
  while (i + 1 < count && anchors[i].elo < elo) ++i;
  const anchor& lo = anchors[i - 1];
  const anchor& hi = anchors[i];
  const double t = double(elo - lo.elo) / double(hi.elo - lo.elo);
  return u64(std::llround(lo.nodes * std::pow(hi.nodes / lo.nodes, t)));
}
