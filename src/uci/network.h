#pragma once
// The nets the engine holds for "UseNNUE" and "EvalFile". A search keeps the
// net it started with: a net loaded meanwhile waits, and the next "go" (or
// "bench nnue") takes it.

#include <memory>
#include <string>

#include "nnue/net.h"

struct netChoice {
  // "UseNNUE" as last set; the next search reads it.
  bool use = false;
  // The net searches use (the embedded one until "EvalFile" names another;
  // loaded when first needed), and a net loaded since the last search.
  std::unique_ptr<nnue::network> active;
  std::string activeName;
  std::unique_ptr<nnue::network> waiting;
  std::string waitingName;
};

// Shown for the built-in net, and accepted by "EvalFile" to go back to it.
constexpr const char EMBEDDED_NET_NAME[] = "<embedded>";

// "EvalFile": loads the named file (or the embedded net) as the net for the
// next search and returns the line to print: the confirmation, or one
// "info string" naming the file and the fault, the net in use kept.
std::string loadEvalFile(netChoice& nets, const std::string& name);
// Called between searches: a waiting net becomes the active one. Returns the
// net the search is to use: null when "UseNNUE" is off (or no net could be
// loaded, which `problem` then names).
const nnue::network* netForSearch(netChoice& nets, std::string& problem);
// The net the next search would use, "UseNNUE" aside (for "eval"); null
// with `problem` set when none could be loaded.
const nnue::network* nextNet(netChoice& nets, std::string& problem, std::string& name);
