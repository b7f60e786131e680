#include "search/limits.h"

searchLimits limits;

std::atomic<u8> stopFlag{0};
std::atomic<u8> pondering{0};
std::atomic<u8> searchFinished{0};
std::atomic<u8> infiniteMode{0};

std::atomic<i64> searchStartMs{0};
std::atomic<i32> softTime{0};
std::atomic<i32> hardTime{0};
float elapsedScale = 1.0f;
i32 clockCheckInterval = CLOCK_CHECK_NODES;
searchPoolView searchPool;
