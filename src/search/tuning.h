#pragma once
// Tuning values of the alpha-beta and quiescence searches. Depths are in
// plies, margins in centipawns.

// Reverse futility pruning: a static evaluation this far above beta at this
// remaining depth fails high at once.
constexpr int REVERSE_FUTILITY_MAX_DEPTH = 6;
constexpr int reverseFutilityMargin[REVERSE_FUTILITY_MAX_DEPTH + 1] = {0, 65, 130, 195, 260, 325, 390};

// Razoring: this far below alpha a quiescence search decides. The second
// half of the table is used when the evaluation improves.
constexpr int RAZOR_MAX_DEPTH = 3;
constexpr int razorMargin[8] = {0, 90, 140, 200, 0, 120, 190, 240};

// Null move: reduction = base + depth / divisor + min(cap, (eval - beta) / step).
constexpr int NULL_MOVE_MIN_DEPTH = 4;
constexpr int NULL_MOVE_BASE_REDUCTION = 3;
constexpr int NULL_MOVE_DEPTH_DIVISOR = 4;
constexpr int NULL_MOVE_EVAL_STEP = 90;
constexpr int NULL_MOVE_EVAL_CAP = 3;

// ProbCut: a good capture that beats beta by the margin in a search this
// much shallower cuts the node; only the first few are tried.
constexpr int PROBCUT_MIN_DEPTH = 5;
constexpr int PROBCUT_MARGIN = 110;
constexpr int PROBCUT_REDUCTION = 3;
constexpr int PROBCUT_MAX_TRIES = 4;

// Internal iterative deepening: a node without a hash move this deep, in the
// principal variation or near beta, searches shallower first for one.
constexpr int IID_MIN_DEPTH = 4;
constexpr int IID_REDUCTION = 2;
constexpr int IID_BETA_MARGIN = 100;

// Singular extension: the hash move, this deep and stored at most
// SINGULAR_ENTRY_SLACK plies shallower, is tested against the others at
// (ttScore - SINGULAR_MARGIN_PER_PLY * depth); the test gives up after
// this many quiet rivals.
constexpr int SINGULAR_MIN_DEPTH = 7;
constexpr int SINGULAR_ENTRY_SLACK = 3;
constexpr int SINGULAR_MARGIN_PER_PLY = 2;
constexpr int SINGULAR_MAX_QUIETS = 6;

// Move pruning: bad captures losing more than this per ply of depth, quiet
// moves whose every history is negative.
constexpr int BAD_CAPTURE_PRUNE_MAX_DEPTH = 6;
constexpr int BAD_CAPTURE_LOSS_PER_PLY = 110;
constexpr int HISTORY_PRUNE_MAX_DEPTH = 3;

// Late-move pruning: after this many quiet moves at this depth only checks
// are searched. The second half of the table is used when improving.
constexpr int LATE_MOVE_MAX_DEPTH = 7;
constexpr int lateMoveCount[16] = {1, 2, 3, 5, 7, 10, 14, 19, 2, 4, 6, 8, 11, 15, 20, 27};

// A quiet move both move-pair histories rate above this is extended.
constexpr int HISTORY_EXTENSION_SCORE = 4096;

// Late-move reductions start at this depth; the PV node's fourth move is
// reduced by one ply only.
constexpr int REDUCTION_MIN_DEPTH = 3;
constexpr int PV_LIGHT_REDUCTION_INDEX = 4;

// Quiescence: all captures down to this depth, then recaptures only; from
// below the second depth a check is no longer answered with evasions.
constexpr int QS_ALL_CAPTURES_DEPTH = -4;
constexpr int QS_EVASIONS_DEPTH = -13;
// Evasions that put a piece where it is lost are ordered this much later.
constexpr int LOSING_EVASION_PENALTY = 100;

// History updates after a cut-off by a quiet move, below this depth only:
// bonus = HISTORY_BONUS_SCALE * min(depth * depth, HISTORY_BONUS_DEPTH_CAP),
// and each update moves an entry by at most that, pulled toward zero in
// proportion to its size over HISTORY_GRAVITY.
constexpr int HISTORY_UPDATE_MAX_DEPTH = 18;
constexpr int HISTORY_BONUS_SCALE = 32;
constexpr int HISTORY_BONUS_DEPTH_CAP = 324;
constexpr int HISTORY_GRAVITY = 8192;
