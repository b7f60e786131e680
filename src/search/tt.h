#pragma once
#include "board/types.h"
// Transposition table (filled in with the search).
void hashResize(i32 megabytes);
void hashClear();
void hashRelease();
