#include "engine/strength.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

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
// The network's, from its lowest rating up: it plays stronger at a given
// count (at the hand-written counts about +150 at 1400 and +190 at 1800).
// 2600 and 2850 keep the hand-written counts: the clock ends those searches
// first at the controls measured.
constexpr anchor NET_ANCHORS[] = {
    {1800, 2000}, {2200, 250000}, {2600, 83000000}, {2850, 1000000000},
};

template <std::size_t N>
u64 capFrom(const anchor (&anchors)[N], int elo) {
  std::size_t i = 1;
  while (i + 1 < N && anchors[i].elo < elo) ++i;
  const anchor& lo = anchors[i - 1];
  const anchor& hi = anchors[i];
  const double t = double(elo - lo.elo) / double(hi.elo - lo.elo);
  return u64(std::llround(lo.nodes * std::pow(hi.nodes / lo.nodes, t)));
}

}  // namespace

u64 nodeCapForElo(int elo, bool network) {
  elo = std::clamp(elo, STRENGTH_ELO_MIN, STRENGTH_ELO_MAX);
  return network ? capFrom(NET_ANCHORS, std::max(elo, STRENGTH_NETWORK_ELO_MIN)) : capFrom(HAND_ANCHORS, elo);
}
