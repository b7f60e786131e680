#pragma once
// The net the engine holds for "UseNNUE" and "EvalFile". A search holds the
// net it started with (the thread pool shares it), so a net loaded meanwhile
// takes its place here at once, and the next "go" (or "bench nnue") takes it.

#include <memory>
#include <string>

#include "nnue/net.h"

struct netChoice {
  // "UseNNUE" as last set; the next search reads it.
  bool use = true;
  // The net the next search takes: the embedded one until "EvalFile" names
  // another, loaded when first needed.
  std::shared_ptr<const nnue::network> net;
  std::string name;
};

// "EvalFile": loads the named file (or the embedded net, nnue::EMBEDDED_NET_NAME)
// as the net for the next search and returns the line to print: the
// confirmation, or one "info string" naming the file and the fault, the net
// in use kept.
std::string loadEvalFile(netChoice& nets, const std::string& name);
// The net the search about to start is to use: null when "UseNNUE" is off
// (or no net could be loaded, which `problem` then names).
std::shared_ptr<const nnue::network> netForSearch(netChoice& nets, std::string& problem);
// The net the next search would use, "UseNNUE" aside (for "eval" and
// "genfens", which use it at once); null with `problem` set when none could
// be loaded.
const nnue::network* nextNet(netChoice& nets, std::string& problem, std::string& name);
