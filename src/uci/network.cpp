#include "uci/network.h"

#include <new>

#include "nnue/embedded.h"

namespace {

// A fresh net from the file or the embedded bytes; the fault, or "".
std::string loadInto(std::unique_ptr<nnue::network>& out, const std::string& name) {
  std::unique_ptr<nnue::network> net(new (std::nothrow) nnue::network);
  if (!net) return "no memory for the net";
  std::string fault;
  if (name == EMBEDDED_NET_NAME) {
    const nnue::embeddedBytes bytes = nnue::embeddedNet();
    fault = nnue::loadNet(bytes.data, bytes.size, *net);
  } else {
    fault = nnue::loadNetFile(name, *net);
  }
  if (fault.empty()) out = std::move(net);
  return fault;
}

// The embedded net, loaded at its first use.
std::string ensureActive(netChoice& nets) {
  if (nets.active) return "";
  const std::string fault = loadInto(nets.active, EMBEDDED_NET_NAME);
  if (fault.empty()) nets.activeName = EMBEDDED_NET_NAME;
  return fault.empty() ? "" : std::string("the embedded net cannot be used: ") + fault;
}

}  // namespace

std::string loadEvalFile(netChoice& nets, const std::string& name) {
  const std::string file = name.empty() ? EMBEDDED_NET_NAME : name;
  std::unique_ptr<nnue::network> net;
  const std::string fault = loadInto(net, file);
  if (!fault.empty()) return "info string EvalFile " + file + " not loaded: " + fault + "; the net in use stays";
  nets.waiting = std::move(net);
  nets.waitingName = file;
  return "info string EvalFile set to : " + file;
}

const nnue::network* netForSearch(netChoice& nets, std::string& problem) {
  if (nets.waiting) {
    nets.active = std::move(nets.waiting);
    nets.activeName = nets.waitingName;
  }
  if (!nets.use) return nullptr;
  problem = ensureActive(nets);
  return nets.active.get();
}

const nnue::network* nextNet(netChoice& nets, std::string& problem, std::string& name) {
  if (nets.waiting) {
    name = nets.waitingName;
    return nets.waiting.get();
  }
  problem = ensureActive(nets);
  name = nets.activeName;
  return nets.active.get();
}
