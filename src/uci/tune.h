#pragma once
// The tune build's options (DRAVLIN_TUNE only; docs/tuning.md): "TuneNodes",
// one spin option per tunable value of the network's set, and the "spsa"
// command that prints them as OpenBench's SPSA input. The release build has
// none of them.

#ifdef DRAVLIN_TUNE

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "search/tuning.h"

// Every tunable value of the network's set (search, root, time allotment),
// in the order "uci" lists them.
std::span<const tunableValue> tunableValues();
// The "option" lines "uci" prints after the others.
std::vector<std::string> tuneOptionLines();
// "setoption" of a tune option: its confirmation line, or nothing when the
// name is none of them or the value is no number.
std::optional<std::string> setTuneOption(const std::string& name, const std::string& value);
// "spsa": a line per tunable value, "name, int, default, min, max, c_end, r_end".
void spsaCommand();

#endif
