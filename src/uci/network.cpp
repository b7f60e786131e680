#include "uci/network.h"

#include <new>

namespace {

// A fresh net by name; the fault, or "".
std::string loadInto(std::shared_ptr<const nnue::network>& out, const std::string& name) {
  std::unique_ptr<nnue::network> net(new (std::nothrow) nnue::network);
  if (!net) return "no memory for the net";
  const std::string fault = nnue::loadNetByName(name, *net);
  if (fault.empty()) out = std::move(net);
  return fault;
}

// The embedded net, loaded at its first use.
std::string ensureNet(netChoice& nets) {
  if (nets.net) return "";
  const std::string fault = loadInto(nets.net, nnue::EMBEDDED_NET_NAME);
  if (fault.empty()) nets.name = nnue::EMBEDDED_NET_NAME;
  return fault.empty() ? "" : std::string("the embedded net cannot be used: ") + fault;
}

}  // namespace

std::string loadEvalFile(netChoice& nets, const std::string& name) {
  const std::string file = name.empty() ? nnue::EMBEDDED_NET_NAME : name;
  // A running search keeps its own share of the net it replaces.
  const std::string fault = loadInto(nets.net, file);
  if (!fault.empty()) return "info string EvalFile " + file + " not loaded: " + fault + "; the net in use stays";
  nets.name = file;
  return "info string EvalFile set to : " + file;
}

std::shared_ptr<const nnue::network> netForSearch(netChoice& nets, std::string& problem) {
  if (!nets.use) return nullptr;
  problem = ensureNet(nets);
  return nets.net;
}

const nnue::network* nextNet(netChoice& nets, std::string& problem, std::string& name) {
  problem = ensureNet(nets);
  name = nets.name;
  return nets.net.get();
}
