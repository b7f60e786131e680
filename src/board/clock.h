#pragma once
// The two clocks: a monotonic one for the search budgets and a fine one for
// perft timing.

#include "board/types.h"

// Monotonic clock in whole milliseconds.
i64 nowMs();
// High-resolution counter in nanoseconds (perft timing).
i64 nowNs();
