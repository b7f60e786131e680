#pragma once
// Playing at a chosen rating ("UCI_LimitStrength", "UCI_Elo"). A rating
// becomes a cap on the nodes of the search for each move; the search itself
// is unchanged, on one thread, and its lines are shown as found.

#include "board/types.h"

constexpr int STRENGTH_ELO_MIN = 1320;
constexpr int STRENGTH_ELO_MAX = 2850;
constexpr int STRENGTH_ELO_DEFAULT = 1500;

struct strengthPlan {
  bool on = false;
  u64 nodes = 0;  // cap on the nodes of the whole search
};

// The plan for a rating (clamped to the option's range).
strengthPlan planForElo(int elo);
