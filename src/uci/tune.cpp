#include "uci/tune.h"

#ifdef DRAVLIN_TUNE

#include <algorithm>
#include <cstdio>

#include "board/decimal.h"
#include "engine/threads.h"
#include "engine/tuning.h"
#include "uci/go.h"
#include "uci/output.h"
#include "uci/tuning.h"

namespace {

// A value's row: its option name, the field of the tuned set and the same
// field of the start set (its default), and its range.
#define SEARCH_VALUE(name, field, lo, hi) {name, &netSearchTuned.values.field, netSearchStart.field, lo, hi}
#define ROOT_VALUE(name, field, lo, hi) {name, &netRootTuned.field, netRootStart.field, lo, hi}
#define TIME_VALUE(name, field, lo, hi) {name, &netTimeTuned.field, netTimeStart.field, lo, hi}

const tunableValue tunables[] = {
    SEARCH_VALUE("RfpMargin", reverseFutilityMargin, 30, 130),
    SEARCH_VALUE("RazorMargin1", razorMargin[1], 40, 180),
    SEARCH_VALUE("RazorMargin2", razorMargin[2], 70, 280),
    SEARCH_VALUE("RazorMargin3", razorMargin[3], 100, 400),
    SEARCH_VALUE("RazorImproving1", razorMargin[RAZOR_MAX_DEPTH + 2], 60, 240),
    SEARCH_VALUE("RazorImproving2", razorMargin[RAZOR_MAX_DEPTH + 3], 90, 380),
    SEARCH_VALUE("RazorImproving3", razorMargin[RAZOR_MAX_DEPTH + 4], 120, 480),
    SEARCH_VALUE("NullMoveBase", nullMoveBase, 150, 500),
    SEARCH_VALUE("NullMoveDepthScale", nullMoveDepthScale, 10, 50),
    SEARCH_VALUE("NullMoveEvalStep", nullMoveEvalStep, 40, 200),
    SEARCH_VALUE("ProbCutMargin", probCutMargin, 50, 250),
    SEARCH_VALUE("IidMargin", iidBetaMargin, 30, 250),
    SEARCH_VALUE("SingularMargin", singularMargin, 8, 96),
    SEARCH_VALUE("BadCaptureLoss", badCaptureLoss, 40, 250),
    SEARCH_VALUE("LmpBase", lateMoveBase, 100, 400),
    SEARCH_VALUE("LmpLinear", lateMoveLinear, -60, 60),
    SEARCH_VALUE("LmpQuad", lateMoveQuad, 15, 70),
    SEARCH_VALUE("LmpImprovingBase", lateMoveImprovingBase, 250, 700),
    SEARCH_VALUE("LmpImprovingLinear", lateMoveImprovingLinear, -90, 30),
    SEARCH_VALUE("LmpImprovingQuad", lateMoveImprovingQuad, 25, 100),
    SEARCH_VALUE("HistoryBonusScale", historyBonusScale, 16, 64),
    SEARCH_VALUE("LmrDivisor", reductionDivisor, 60, 200),
    SEARCH_VALUE("LmrBase", reductionBase, -50, 100),
    ROOT_VALUE("AspirationDelta", aspirationDelta, 6, 40),
    ROOT_VALUE("TimeStableShrink", stableTimeShrink, 700, 1000),
    ROOT_VALUE("TimeUnstableKeep", unstableTimeKeep, 500, 1000),
    ROOT_VALUE("TimePerInstability", timePerInstability, 50, 400),
    ROOT_VALUE("TimeFactorMax", maxTimeFactor, 1200, 3000),
    TIME_VALUE("TimeMovesGiven", movesGivenFraction, 400, 1000),
    TIME_VALUE("TimeSuddenDeath", suddenDeathFraction, 400, 1000),
    TIME_VALUE("TimeIncFactor", incFactorBase, 800, 2000),
    TIME_VALUE("TimeHardPerSoft", hardPerSoft, 2000, 10000),
    TIME_VALUE("TimeHardShare", hardClockShare, 200, 800),
};

#undef SEARCH_VALUE
#undef ROOT_VALUE
#undef TIME_VALUE

constexpr i32 TUNE_NODES_MAX = 100000000;
// OpenBench's learning rate at the end of a run, the same for every value.
constexpr const char* SPSA_R_END = "0.002";

std::string spinLine(const char* name, int start, int lo, int hi) {
  return std::string("option name ") + name + " type spin default " + std::to_string(start) + " min " +
         std::to_string(lo) + " max " + std::to_string(hi);
}

}  // namespace

std::span<const tunableValue> tunableValues() { return tunables; }

std::vector<std::string> tuneOptionLines() {
  std::vector<std::string> lines{spinLine("TuneNodes", 0, 0, TUNE_NODES_MAX)};
  for (const tunableValue& t : tunables) lines.push_back(spinLine(t.name, t.start, t.min, t.max));
  return lines;
}

std::optional<std::string> setTuneOption(const std::string& name, const std::string& value) {
  i64 number;
  if (name == "TuneNodes") {
    if (!readDecimalIn(value, INT32_MIN, INT32_MAX, number)) return std::nullopt;
    game.tuneNodes = u64(std::clamp<i64>(number, 0, TUNE_NODES_MAX));
    return "info string TuneNodes set to : " + std::to_string(game.tuneNodes);
  }
  for (const tunableValue& t : tunables) {
    if (name != t.name) continue;
    if (!readDecimalIn(value, INT32_MIN, INT32_MAX, number)) return std::nullopt;
    // The search reads these values: none may run while they change.
    searchThreads.stopSearchAndWait();
    *t.value = int(std::clamp<i64>(number, t.min, t.max));
    remakeNetSearchTables();
    return std::string("info string ") + t.name + " set to : " + std::to_string(*t.value);
  }
  return std::nullopt;
}

void spsaCommand() {
  for (const tunableValue& t : tunables) {
    // The perturbation at the end of a run: a twentieth of the range.
    char cEnd[32];
    std::snprintf(cEnd, sizeof cEnd, "%g", double(t.max - t.min) / 20.0);
    outLine(std::string(t.name) + ", int, " + std::to_string(t.start) + ", " + std::to_string(t.min) + ", " +
            std::to_string(t.max) + ", " + cEnd + ", " + SPSA_R_END);
  }
}

#endif
