#pragma once
// Perft check against a reference file ("rtest").

#include <functional>
#include <string>

#include "board/sink.h"

// Checks every line of the file at `path` up to an "extended" or "full"
// marker; hands one result line per position and a summary to `print` as it
// goes, and calls `afterEachCheck` after each position it counted. True only
// when every line was checked and matched. With `chess960` the positions are
// read as Chess960 positions (readFen).
bool perftFileCheck(const std::string& path, const textSink& print, const std::function<void()>& afterEachCheck,
                    bool chess960 = false);
