#pragma once
// UCI option values, process-wide.

#include <string>

#include "board/types.h"

extern i32 hashMegabytes;
extern i32 threadCount;
extern u8 ponderOption;
extern i32 moveOverhead;
extern std::string syzygyPath;
extern i32 syzygyProbeDepth;
