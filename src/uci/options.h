#pragma once
// UCI option values, process-wide, and the resizes that follow them.

#include <string>

#include "board/types.h"

extern i32 hashMegabytes;
extern i32 threadCount;
extern u8 ponderOption;
extern i32 moveOverhead;
extern std::string syzygyPath;
// UCI_Chess960: "position" reads and castling is written as in Chess960.
extern u8 chess960Option;

// The table at a new size, printing the line that says what the system
// refused; false when the size was refused.
bool resizeHash(i32 megabytes);
// The pool with n threads, printing a shortfall; the number of threads running.
int resizeThreads(int n);
