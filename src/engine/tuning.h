#pragma once
// Tuning values of the root driver: aspiration windows, iteration reports,
// the time factor and the helpers' depth skipping.

#include "board/types.h"

// Iterations below this depth search the full window.
constexpr int ASPIRATION_FROM_DEPTH = 6;
// Window widenings before a side of the window opens fully.
constexpr int ASPIRATION_STEPS = 4;

// From this depth on each iteration prints its line, the boss stores its
// score in the table, and helpers look at what the others search.
constexpr int REPORTED_FROM_DEPTH = 10;
// Iterations never go deeper than the ply records reach.
constexpr int MAX_ITERATION_DEPTH = 127;
// A root with one legal move is searched this deep, for a reply to ponder on.
constexpr int SINGLE_MOVE_DEPTH = 3;

// A helper only decides to end the search after this much time: the larger
// of these milliseconds and a fraction (1 / HELPER_MIN_TIME_DIVISOR) of the
// soft budget.
constexpr i64 HELPER_MIN_TIME_MS = 100;
constexpr i64 HELPER_MIN_TIME_DIVISOR = 16;

// The time factor scales the soft budget with the root's instability (best
// move changes and failed windows): shrinks while stable, grows when not.
constexpr int TIME_FACTOR_FROM_DEPTH = 6;
constexpr double MIN_TIME_FACTOR = 0.6;

// The root's tunable values, one set per evaluation as the search's
// (search/tuning.h); the defaults are the hand-written evaluation's.
// Fractions are in thousandths.
struct rootValues {
  // The widths of every thread's aspiration rows (root.cpp) are scaled by
  // aspirationDelta / ASPIRATION_DELTA_UNIT: the first width of row 0.
  int aspirationDelta = 15;
  int stableTimeShrink = 900;    // the time factor, times this while stable
  int unstableTimeKeep = 800;    // the share of a raised factor kept when not
  int timePerInstability = 200;  // added per unit of instability
  int maxTimeFactor = 2000;
};
constexpr int ASPIRATION_DELTA_UNIT = 15;

inline constexpr rootValues handRootValues{};
// The network's values; a tuning run's results are written in here.
inline constexpr rootValues netRootStart = [] {
  rootValues v;
  return v;
}();

#ifdef DRAVLIN_TUNE
extern rootValues netRootTuned;  // the tune build's options change it
inline const rootValues& netRootValues() { return netRootTuned; }
#else
inline const rootValues& netRootValues() { return netRootStart; }
#endif
inline const rootValues& rootValuesFor(bool network) { return network ? netRootValues() : handRootValues; }
