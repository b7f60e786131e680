#include "datagen/datagen.h"

int datastatTool(const std::vector<std::string>&, const textSink&, const textSink& err) {
  err("datastat: not yet\n");
  return 1;
}
int pgn2dataTool(const std::vector<std::string>&, const textSink&, const textSink& err) {
  err("pgn2data: not yet\n");
  return 1;
}
bool genfens(const std::vector<std::string>&, const textSink&, std::string& error) {
  error = "not yet";
  return false;
}
