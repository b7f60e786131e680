#pragma once
// Perft check against the reference file ("rtest").
bool perftFileCheck();
