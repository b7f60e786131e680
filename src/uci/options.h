#pragma once
// The UCI options: one table of rows in options.cpp. Their values live with
// what uses them: the table and the thread pool know their sizes, the search
// control holds MultiPV and UCI_ShowWDL, the game state (uci/go.h) Ponder,
// MoveOverhead and UCI_Chess960, the tablebase registry SyzygyProbeDepth.

#include "board/types.h"

constexpr i32 DEFAULT_HASH_MB = 256;
constexpr int DEFAULT_THREADS = 1;

// The table at a new size, printing the line that says what the system
// refused; false when the size was refused.
bool resizeHash(i32 megabytes);
// The pool with n threads, printing a shortfall; the number of threads running.
int resizeThreads(int n);
