#pragma once
// Tuning values of the alpha-beta and quiescence searches. Depths are in
// plies, margins in centipawns.
//
// The margins and counts come in two sets, one per evaluation: the
// hand-written evaluation's (handSearch) and the network's (netSearch), which
// a tuning run fits to the net. The search is a template on its set, so each
// set's values are compile-time constants where the search reads them; the
// root picks the set once, by whether a net evaluates. Only a build with
// DRAVLIN_TUNE makes the network's set plain variables, one UCI option each.

#include "board/types.h"

// Reverse futility pruning: a static evaluation reverseFutilityMargin per
// ply of remaining depth above beta fails high at once.
constexpr int REVERSE_FUTILITY_MAX_DEPTH = 6;

// Razoring: this far below alpha a quiescence search decides.
constexpr int RAZOR_MAX_DEPTH = 3;

// Null move: reduction = (base + depthScale * depth) / 100
// + min(cap, (eval - beta) / step).
constexpr int NULL_MOVE_MIN_DEPTH = 4;
constexpr int NULL_MOVE_EVAL_CAP = 3;

// ProbCut: a good capture that beats beta by the margin in a search this
// much shallower cuts the node; only the first few are tried.
constexpr int PROBCUT_MIN_DEPTH = 5;
constexpr int PROBCUT_REDUCTION = 3;
constexpr int PROBCUT_MAX_TRIES = 4;

// Internal iterative deepening: a node without a hash move this deep, in the
// principal variation or near beta, searches shallower first for one.
constexpr int IID_MIN_DEPTH = 4;
constexpr int IID_REDUCTION = 2;

// Singular extension: the hash move, this deep and stored at most
// SINGULAR_ENTRY_SLACK plies shallower, is tested against the others at
// (ttScore - singularMargin * depth / 16); the test gives up after this many
// quiet rivals.
constexpr int SINGULAR_MIN_DEPTH = 7;
constexpr int SINGULAR_ENTRY_SLACK = 3;
constexpr int SINGULAR_MAX_QUIETS = 6;

// Move pruning: bad captures losing more than badCaptureLoss per ply of
// depth, quiet moves whose every history is negative.
constexpr int BAD_CAPTURE_PRUNE_MAX_DEPTH = 6;
constexpr int HISTORY_PRUNE_MAX_DEPTH = 3;

// Late-move pruning: after lateMoveCount quiet moves at this depth only
// checks are searched.
constexpr int LATE_MOVE_MAX_DEPTH = 7;

// A quiet move both move-pair histories rate above this is extended.
constexpr int HISTORY_EXTENSION_SCORE = 4096;

// Late-move reductions start at this depth; the PV node's fourth move is
// reduced by one ply only. The table's rows: depth 0..127, move 0..255.
constexpr int REDUCTION_MIN_DEPTH = 3;
constexpr int PV_LIGHT_REDUCTION_INDEX = 4;
constexpr int REDUCTION_DEPTHS = 128;
constexpr int REDUCTION_MOVES = 256;

// Quiescence: all captures down to this depth, then recaptures only; from
// below the second depth a check is no longer answered with evasions.
constexpr int QS_ALL_CAPTURES_DEPTH = -4;
constexpr int QS_EVASIONS_DEPTH = -13;
// Evasions that put a piece where it is lost are ordered this much later.
constexpr int LOSING_EVASION_PENALTY = 100;

// History updates after a cut-off by a quiet move, below this depth only:
// bonus = historyBonusScale * min(depth * depth, HISTORY_BONUS_DEPTH_CAP),
// and each update moves an entry by at most that, pulled toward zero in
// proportion to its size over HISTORY_GRAVITY.
constexpr int HISTORY_UPDATE_MAX_DEPTH = 18;
constexpr int HISTORY_BONUS_DEPTH_CAP = 324;
constexpr int HISTORY_GRAVITY = 8192;

// One set of the search's tunable values. The defaults are the hand-written
// evaluation's values. Fixed-point units keep the steps fine enough for a
// tuner and the hand-written values exact.
struct searchValues {
  int reverseFutilityMargin = 65;  // per ply of depth
  // By depth 1..3 (entry 0 unused); the second half while improving.
  int razorMargin[2 * (RAZOR_MAX_DEPTH + 1)] = {0, 90, 140, 200, 0, 120, 190, 240};
  int nullMoveBase = 300;        // hundredths of a ply
  int nullMoveDepthScale = 25;   // hundredths of a ply per ply
  int nullMoveEvalStep = 90;
  int probCutMargin = 110;
  int iidBetaMargin = 100;
  int singularMargin = 32;       // sixteenths of a centipawn per ply
  int badCaptureLoss = 110;      // per ply of depth
  // Late-move count = (base + linear * depth + quad * depth^2) / 100, while
  // not improving and while improving.
  int lateMoveBase = 205, lateMoveLinear = 0, lateMoveQuad = 35;
  int lateMoveImprovingBase = 470, lateMoveImprovingLinear = -30, lateMoveImprovingQuad = 50;
  int historyBonusScale = 32;
  // Late-move reduction = base / 100 + sqrt((move - 2) * depth * 10 / divisor),
  // rounded down (the first three moves keep 0, 0, 1).
  int reductionDivisor = 110;    // tenths
  int reductionBase = 0;         // hundredths of a ply
};

inline constexpr searchValues handSearchValues{};

// The network's values; a tuning run's results are written in here.
inline constexpr searchValues netSearchStart = [] {
  searchValues v;
  return v;
}();

// What the search reads from tables made from a set's values.
struct searchTables {
  u8 reductions[REDUCTION_DEPTHS][REDUCTION_MOVES];
  // By depth 1..LATE_MOVE_MAX_DEPTH (entry 0 unused); the second half while improving.
  int lateMoveCount[2 * (LATE_MOVE_MAX_DEPTH + 1)];
};

constexpr int floorSqrt(int n) {
  int lo = 0, hi = 46341;  // the root of any int is below
  while (hi - lo > 1) {
    const int mid = (lo + hi) / 2;
    if (mid * mid <= n) lo = mid;
    else hi = mid;
  }
  return lo;
}

constexpr searchTables makeSearchTables(const searchValues& v) {
  searchTables t{};
  for (int d = 0; d < REDUCTION_DEPTHS; ++d)
    for (int m = 0; m < REDUCTION_MOVES; ++m) {
      int r = m <= 2 ? 0 : 1;
      if (m > 3) {
        // floor(base/100 + sqrt(x)) in integers: floor(100 sqrt(x)) = floorSqrt(10000 x).
        const int x = (m - 2) * d * 10 / v.reductionDivisor;
        r = (v.reductionBase + floorSqrt(10000 * x)) / 100;
      }
      t.reductions[d][m] = u8(r < 0 ? 0 : r > 255 ? 255 : r);
    }
  for (int d = 0; d <= LATE_MOVE_MAX_DEPTH; ++d) {
    const int still = (v.lateMoveBase + v.lateMoveLinear * d + v.lateMoveQuad * d * d) / 100;
    const int rising =
        (v.lateMoveImprovingBase + v.lateMoveImprovingLinear * d + v.lateMoveImprovingQuad * d * d) / 100;
    t.lateMoveCount[d] = still < 0 ? 0 : still;
    t.lateMoveCount[d + LATE_MOVE_MAX_DEPTH + 1] = rising < 0 ? 0 : rising;
  }
  return t;
}

// The sets: `v` the values, `t` the tables made from them (at compile time,
// in tuning.cpp, so that not every file that includes this makes them).
struct handSearch {
  static constexpr const searchValues& v = handSearchValues;
  static const searchTables t;
};

#ifdef DRAVLIN_TUNE
// The network's set as variables, which the UCI options change; the tables
// are made again after every change (remakeNetSearchTables).
struct netSearchState {
  searchValues values = netSearchStart;
  searchTables tables = makeSearchTables(netSearchStart);
};
extern netSearchState netSearchTuned;
struct netSearch {
  static constexpr searchValues& v = netSearchTuned.values;
  static constexpr searchTables& t = netSearchTuned.tables;
};
inline void remakeNetSearchTables() { netSearchTuned.tables = makeSearchTables(netSearchTuned.values); }
#else
struct netSearch {
  static constexpr const searchValues& v = netSearchStart;
  static const searchTables t;
};
#endif

// A tunable value of the network's set, as the tune build's options show it:
// its name, where it lives, its start value and its range.
struct tunableValue {
  const char* name;
  int* value;
  int start, min, max;
};
