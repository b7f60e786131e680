#pragma once
// What bounds a search: the limits of the current "go", the time budgets
// derived from them, and the one-byte flags through which the command thread
// steers a running search and which every search thread polls. Flags are
// relaxed atomics: plain byte moves on x86-64, but no data race.

#include <atomic>

#include "board/types.h"

struct searchLimits {
  i32 clock[2] = {900000, 900000};
  i32 increment[2] = {0, 0};
  i32 movesToGo = 30;
  u8 movesToGoGiven = 0;
  i32 depthLimit = 0;
  i32 mate = 0;
  u64 nodes = 0;
  i32 moveTime = 0;
  // A node cap that pondering and infinite analysis do not lift: there the
  // search holds at the cap until "ponderhit" or "stop" (0: none).
  u64 capNodes = 0;
};

extern searchLimits limits;

extern std::atomic<u8> stopFlag;
extern std::atomic<u8> pondering;
extern std::atomic<u8> searchFinished;
extern std::atomic<u8> infiniteMode;

extern std::atomic<i64> searchStartMs;
extern std::atomic<i32> softTime;
extern std::atomic<i32> hardTime;
extern float elapsedScale;

// Nodes between two looks at the clock.
constexpr i32 CLOCK_CHECK_NODES = 4096;
extern i32 clockCheckInterval;

// "go nodes" counts the nodes of every search thread. The thread pool above
// installs the counter and keeps the number of threads current.
struct searchPoolView {
  u64 (*nodes)() = nullptr;
  int threads = 1;
};
extern searchPoolView searchPool;
