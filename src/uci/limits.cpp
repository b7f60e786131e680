#include "uci/limits.h"

#include <chrono>

searchLimits limits;

std::atomic<u8> stopFlag{0};
std::atomic<u8> pondering{0};
std::atomic<u8> searchFinished{0};
std::atomic<u8> infiniteMode{0};

std::atomic<i64> searchStartMs{0};
std::atomic<i32> softTime{0};
std::atomic<i32> hardTime{0};
float elapsedScale = 1.0f;
float incFactor = 1.37f;
i32 clockCheckInterval = 4096;
i32 gamePlyCount = 0;
u8 newGame = 1;

i64 nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

i64 nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
