#pragma once
// Tuning values of the time allotment ("go" with clocks).

#include "board/types.h"

// The budget per move is the time for the moves to go, times a fraction
// that depends on the thread count (from MANY_THREADS on) and the stage of
// the game (counted in plies); below MANY_THREADS the fractions are tunable
// (timeValues below).
constexpr int MANY_THREADS = 4;
constexpr double MOVES_GIVEN_FRACTION_MANY = 0.8;
constexpr double SUDDEN_DEATH_FRACTION_MANY = 0.72;
constexpr int OPENING_PLIES = 18;       // below: the opening
constexpr int MIDDLEGAME_PLIES = 51;    // below: the middlegame
constexpr double OPENING_SCALE = 0.9;   // with "movestogo": less in the opening...
constexpr double MIDDLEGAME_SCALE = 1.1;  // ...more in the middlegame
// Without "movestogo", the moves the clock must last, by stage.
constexpr int LATE_MIDDLEGAME_PLIES = 81;
constexpr int ENDGAME_PLIES = 201;
constexpr int MOVES_LEFT_OPENING = 40;
constexpr int MOVES_LEFT_MIDDLEGAME = 22;
constexpr int MOVES_LEFT_LATE_MIDDLEGAME = 25;
constexpr int MOVES_LEFT_ENDGAME = 20;
constexpr int MOVES_LEFT_LATE = 15;
// A position of unknown game length: this many moves, and a larger fraction.
constexpr int MOVES_LEFT_UNKNOWN = 30;
constexpr double UNKNOWN_STAGE_SCALE = 1.4;

// The increment's weight, fixed at a game's first "go" from the ratio of
// clock to increment (clamped to INC_RATIO_MIN..INC_RATIO_MAX): from
// timeValues::incFactorBase up by INC_FACTOR_SLOPE per unit of ratio.
constexpr i64 INC_RATIO_MIN = 100;
constexpr i64 INC_RATIO_MAX = 360;
constexpr double INC_FACTOR_SLOPE = 0.0014615385;

// "Ponder" on: a little more time, the opponent's time being used too.
constexpr double PONDER_SCALE = 1.1;
// At four moves to go the hard budget is at least this many milliseconds.
constexpr int LAST_MOVES_GIVEN = 4;
constexpr i64 LAST_MOVES_MIN_HARD_MS = 40;
// A clock short against the soft budget (less than this many budgets left):
// both budgets halve and elapsed time counts this many times over.
constexpr i64 SHORT_CLOCK_BUDGETS = 4;
constexpr float SHORT_CLOCK_ELAPSED_SCALE = 5.0f;
// "movetime": the soft budget is this many times the move time, so the hard
// one alone ends the search.
constexpr double MOVETIME_SOFT_SCALE = 10.0;

// The time allotment's tunable values, one set per evaluation as the
// search's (search/tuning.h); the defaults are the hand-written evaluation's.
// Fractions are in thousandths.
struct timeValues {
  int movesGivenFraction = 730;    // the budget's fraction with "movestogo"
  int suddenDeathFraction = 660;   // and without
  int incFactorBase = 1370;        // the increment's weight at the lowest ratio
  int hardPerSoft = 5000;          // the hard budget: this many soft budgets,
  int hardClockShare = 500;        // at most this share of the clock
};

inline constexpr timeValues handTimeValues{};
// The network's values; a tuning run's results are written in here.
inline constexpr timeValues netTimeStart = [] {
  timeValues v;
  return v;
}();

#ifdef DRAVLIN_TUNE
extern timeValues netTimeTuned;  // the tune build's options change it
inline const timeValues& netTimeValues() { return netTimeTuned; }
#else
inline const timeValues& netTimeValues() { return netTimeStart; }
#endif
inline const timeValues& timeValuesFor(bool network) { return network ? netTimeValues() : handTimeValues; }
