#include "uci/options.h"

#include <algorithm>
#include <climits>
#include <string>

#include "board/decimal.h"
#include "engine/threads.h"
#include "search/tt.h"
#include "tablebase/tbprobe.h"
#include "uci/commands.h"
#include "uci/output.h"

i32 hashMegabytes = 256;
i32 threadCount = 1;
u8 ponderOption = 0;
i32 moveOverhead = 100;
std::string syzygyPath;
u8 chess960Option = 0;

namespace {

// A number that does not fit 32 bits, or no number at all, keeps the
// option's value, and nothing is confirmed.
bool readOptionNumber(const std::string& text, i32& out) {
  i64 value;
  if (!readDecimalIn(text, INT32_MIN, INT32_MAX, value)) return false;
  out = i32(value);
  return true;
}

}  // namespace

bool resizeHash(i32 megabytes) {
  const hashResizeResult r = hashResize(megabytes, threadCount);
  if (!r.granted) outLine(r.refusal);
  return r.granted;
}

int resizeThreads(int n) {
  const int running = resizePool(n);
  if (running < n)
    outLine("info string Only " + std::to_string(running) + " of " + std::to_string(n) +
            " search threads could be started");
  return running;
}

void uciCommand() {
  outLine("id name Dravlin 2.210 NOP");
  outLine("id author Quellmark");
  outLine("option name Hash type spin default 256 min 1 max 262144");
  outLine("option name Threads type spin default 1 min 1 max 256");
  outLine("option name Ponder type check default false");
  outLine("option name MoveOverhead type spin default 100 min 1 max 60000");
  outLine("option name SyzygyPath type string default <empty>");
  outLine("option name SyzygyProbeDepth type spin default 0 min 0 max 127");
  outLine("option name UCI_Chess960 type check default false");
  outLine("uciok");
}

void setoptionCommand(std::istringstream& words) {
  std::string word;
  words >> word;  // normally "name"
  std::string name, value;
  bool inValue = false;
  while (words >> word) {
    if (!inValue && word == "value") {
      inValue = true;
      continue;
    }
    std::string& part = inValue ? value : name;
    if (!part.empty()) part += ' ';
    part += word;
  }

  i32 number = 0;
  if (name == "Hash") {
    if (!readOptionNumber(value, number)) return;
    hashMegabytes = std::clamp<i32>(number, 1, 262144);
    stopSearchAndWait();  // the search must not run on a freed table
    if (!resizeHash(hashMegabytes)) hashMegabytes = hashSizeMegabytes();  // confirm what was granted
    outLine("info string Size of Hashtable set to : " + std::to_string(hashMegabytes));
  } else if (name == "Threads") {
    if (!readOptionNumber(value, number)) return;
    stopSearchAndWait();
    threadCount = std::clamp<i32>(number, 1, 256);
    threadCount = std::max<i32>(1, resizeThreads(threadCount));  // some may have been refused
    outLine("info string Number of threads set to : " + std::to_string(threadCount));
  } else if (name == "MoveOverhead") {
    if (!readOptionNumber(value, number)) return;
    moveOverhead = std::clamp<i32>(number, 1, 60000);
    outLine("info string MoveOverhead set to : " + std::to_string(moveOverhead));
  } else if (name == "Ponder") {
    ponderOption = value == "true" ? 1 : 0;
    outLine("info string Ponder set to : " + std::to_string(ponderOption));
  } else if (name == "UCI_Chess960") {
    // Takes effect with the next "position" command, which GUIs send anyway.
    chess960Option = value == "true" ? 1 : 0;
    outLine("info string UCI_Chess960 set to : " + std::to_string(chess960Option));
  } else if (name == "SyzygyPath") {
    stopSearchAndWait();  // probes must not meet tables being unmapped
    syzygyPath = value;
    if (const auto found = initTablebases(value)) outText("Found " + std::to_string(*found) + " tablebases.\n");
    outLine("info string Syzygy tablebases used from directory : " + value);
  } else if (name == "SyzygyProbeDepth") {
    if (!readOptionNumber(value, number)) return;
    stopSearchAndWait();
    syzygyProbeDepth = std::clamp<i32>(number, 0, 127);
    outLine("info string SyzygyProbeDepth set to: " + std::to_string(syzygyProbeDepth));
  }
}
