#pragma once
// Playing at a chosen rating ("UCI_LimitStrength", "UCI_Elo"). A rating
// becomes a cap on the nodes of the search for each move; the search itself
// is unchanged, on one thread, and its lines are shown as found.

#include "board/types.h"

constexpr int STRENGTH_ELO_MIN = 1350;
constexpr int STRENGTH_ELO_MAX = 2850;
constexpr int STRENGTH_ELO_DEFAULT = 1500;

// The network's shallowest searches (a few hundred nodes, two plies) still
// play at about 1550 on the reference scale, so below this rating a limited
// search evaluates by hand, whose counts reach down to the lowest rating.
constexpr int STRENGTH_NETWORK_ELO_MIN = 1800;

// The cap on the nodes of a whole search for a rating (clamped to the
// option's range), with the network or with the hand-written evaluation.
u64 nodeCapForElo(int elo, bool network);
