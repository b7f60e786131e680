#pragma once
// Playing at a chosen rating ("UCI_LimitStrength", "UCI_Elo"). A rating
// becomes a cap on the nodes of the search for each move; the search itself
// is unchanged, on one thread, and its lines are shown as found.

#include <atomic>

#include "board/types.h"

constexpr int STRENGTH_ELO_MIN = 1320;
constexpr int STRENGTH_ELO_MAX = 2850;
constexpr int STRENGTH_ELO_DEFAULT = 1500;

// The option values; "go" reads them when it starts a search.
extern std::atomic<bool> limitStrength;
extern std::atomic<int> strengthElo;

struct strengthPlan {
  bool on = false;
  u64 nodes = 0;  // cap on the nodes of the whole search
};

// The plan for a rating (clamped to the option's range).
strengthPlan planForElo(int elo);

// The plan of the running search: set by "go" from the options (off when the
// limit is off), cleared by "bench". Read by the search threads.
extern strengthPlan activePlan;
// Sets activePlan from the options and returns its node cap (0: none).
u64 beginStrengthSearch();
