#pragma once
// Playing at a chosen rating ("UCI_LimitStrength", "UCI_Elo"). A rating
// becomes a plan for one search: a cap on the nodes searched for the move
// and, at the lower ratings, a few best root lines among which the move is
// drawn, within a margin that widens as the rating falls. The search itself
// is unchanged; its lines are shown as found.

#include <atomic>
#include <vector>

#include "board/types.h"

struct rootLine;

constexpr int STRENGTH_ELO_MIN = 1320;
constexpr int STRENGTH_ELO_MAX = 2850;
constexpr int STRENGTH_ELO_DEFAULT = 1500;

// The option values; "go" reads them when it starts a search.
extern std::atomic<bool> limitStrength;
extern std::atomic<int> strengthElo;

struct strengthPlan {
  bool on = false;
  u64 nodes = 0;      // cap on the nodes of the whole search
  int lines = 1;      // root lines searched to choose from
  int marginCp = 0;   // how much worse than the best a chosen line may be
};

strengthPlan planForElo(int elo);

// The plan of the running search: set by "go" from the options (off when the
// limit is off), cleared by "bench". Read by the search threads.
extern strengthPlan activePlan;
// Sets activePlan from the options and returns its node cap (0: none).
u64 beginStrengthSearch();

// The line to play among the first `count` lines (best first): a random one
// of those within the plan's margin of the best, the closer the likelier.
int pickLine(const std::vector<rootLine>& lines, int count, const strengthPlan& plan);
