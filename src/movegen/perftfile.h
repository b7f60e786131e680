#pragma once
// Perft check against the reference file ("rtest").

#include <string>

// Checks every line of the file at `path` up to an "extended" or "full"
// marker; prints one result line per position and a summary. True only when
// every line was checked and matched.
bool perftFileCheck(const std::string& path);

// The same on the reference file whose path is fixed at build time.
bool perftFileCheck();
